// MP3 import and export: the handlers read the controls, call the codec core
// and turn its outcome into the program's messages.
#include <QComboBox>

#include "app/MainUnit.h"
#include "codecs/Mp3Export.h"

namespace notavox {

void TMainForm::SaveAsMP3File(const QString& fileName) {
    const int32_t outputRate = mp3format->currentText().toInt();
    const int32_t bitRate = BitRate->currentText().toInt();
    try {
        Mp3ExportResult r;
        RunLongWork([&](OperationHost& host, const std::atomic<bool>&) {
            r = notavox::SaveAsMP3File(toFileName(fileName), document, outputRate, bitRate, host,
                                       *services_.mp3Encoder);
        });
        if (!r.message.empty()) ShowMessage(QString::fromStdString(r.message), MsgIcon::None);
    } catch (const EMp3Encoding& e) {
        // The encoder failed in mid-stream: the exception's text, as the
        // application shows an exception.
        SetProStatus(0);
        ShowMessage(QString::fromUtf8(e.what()), MsgIcon::Error);
    }
}

}  // namespace notavox

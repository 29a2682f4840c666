// MP3 import and export: the handlers read the controls, call the codec core
// and turn its outcome into the program's messages.
#include <QComboBox>

#include "app/MainUnit.h"
#include "audio/SafeFile.h"
#include "codecs/Mp3Export.h"

namespace notavox {

bool TMainForm::SaveAsMP3File(const QString& fileName) {
    const int32_t outputRate = mp3format->currentText().toInt();
    const int32_t bitRate = BitRate->currentText().toInt();
    try {
        Mp3ExportResult r;
        RunLongWork([&](OperationHost& host, const std::atomic<bool>&) {
            r = notavox::SaveAsMP3File(toFileName(fileName), document, outputRate, bitRate, host,
                                       *services_.mp3Encoder);
        });
        // The fixed text, and below it why the file could not be written.
        const std::string cause = SaveErrorText(r.error);
        if (!r.message.empty())
            ShowMessage(QString::fromStdString(cause.empty() ? r.message : r.message + "\n" + cause), MsgIcon::None);
        return r.status == Mp3ExportStatus::Ok;
    } catch (const EMp3Encoding& e) {
        // The encoder failed in mid-stream: the exception's text, as the
        // application shows an exception.
        SetProStatus(0);
        ShowMessage(QString::fromUtf8(e.what()), MsgIcon::Error);
        return false;
    }
}

}  // namespace notavox

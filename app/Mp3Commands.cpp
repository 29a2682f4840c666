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
    Mp3ExportResult r;
    RunLongWork([&](OperationHost& host, const std::atomic<bool>&) {
        r = notavox::SaveAsMP3File(toFileName(fileName), document, outputRate, bitRate, host, *services_.mp3Encoder);
    });
    // The fixed text, and below it why the file could not be written. A
    // failure in mid-stream is an error; the others are plain notes.
    const std::string cause = SaveErrorText(r.error);
    const std::string text = cause.empty() ? r.message : r.message + "\n" + cause;
    const MsgIcon icon = r.status == Mp3ExportStatus::EncodingFailed ? MsgIcon::Error : MsgIcon::None;
    if (!r.message.empty()) ShowMessage(QString::fromStdString(text), icon);
    return r.status == Mp3ExportStatus::Ok;
}

}  // namespace notavox

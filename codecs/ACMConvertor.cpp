#include "codecs/ACMConvertor.h"

#include <cstdio>
#include <new>

namespace notavox {

namespace {

const char* resultText(MMRESULT code) {
    switch (code) {
        case MMSYSERR_INVALHANDLE: return " The specified handle is invalid.";
        case MMSYSERR_NODRIVER: return " A suitable driver is not available to provide valid format selections.";
        case MMSYSERR_NOMEM: return " The system is unable to allocate resources.";
        case MMSYSERR_INVALFLAG: return " At least one flag is invalid.";
        case MMSYSERR_INVALPARAM: return " At least one parameter is invalid.";
        case ACMERR_NOTPOSSIBLE: return " The requested operation cannot be performed.";
        case ACMERR_BUSY: return " The conversion stream is already in use.";
        case ACMERR_UNPREPARED: return " Cannot perform this action on a header that has not been prepared.";
        default: return nullptr;
    }
}

}  // namespace

std::string ACMResultText(const std::string& label, MMRESULT code) {
    if (const char* text = resultText(code)) return label + text;
    char buf[64];
    std::snprintf(buf, sizeof buf, " raised an unknown error (code #%d)", int(code));
    return label + buf;
}

void CheckACMResult(const std::string& label, MMRESULT code) {
    if (code != MMSYSERR_NOERROR) throw EACMConvertor(ACMResultText(label, code));
}

std::vector<uint8_t> WriteFormatProperty(const FormatArea& area) {
    std::vector<uint8_t> out(4 + kFormatAreaSize);
    PutLE32(out.data(), kFormatAreaSize);
    std::copy(area.begin(), area.end(), out.begin() + 4);
    return out;
}

bool ReadFormatProperty(const std::vector<uint8_t>& data, FormatArea& area) {
    if (data.size() < 4) return false;
    const uint32_t length = GetLE32(data.data());
    if (length > kFormatAreaSize || data.size() - 4 < length) return false;
    std::copy(data.begin() + 4, data.begin() + 4 + length, area.begin());
    return true;
}

TACMConvertor::TACMConvertor(Decoder& decoder)
    : decoder_(decoder),
      formatIn_(MakePcmFormat(1, 22050, 8, kFormatAreaSize)),
      formatOut_(MakePcmFormat(1, 22050, 8, kFormatAreaSize)) {}

TACMConvertor::~TACMConvertor() {
    try {
        SetActive(false);
    } catch (const EACMConvertor&) {
        // The stream is gone with the component either way.
    }
}

void TACMConvertor::SetInputBufferSize(uint32_t size) {
    if (active_) throw EACMConvertor("You cannot change the buffer size while active.");
    inputBufferSize_ = size;
}

void TACMConvertor::SetUseRealTime(bool value) {
    if (active_) throw EACMConvertor("You cannot change the real time flag while active.");
    useRealTime_ = value;
}

void TACMConvertor::SetActive(bool value) {
    if (value == active_) return;
    if (value)
        open();
    else
        close();
}

void TACMConvertor::releaseBuffers() {
    std::vector<uint8_t>().swap(sourceBuffer_);
    std::vector<uint8_t>().swap(destinationBuffer_);
    header_ = StreamHeader{};
    destinationBufferSize_ = 0;
}

void TACMConvertor::open() {
    CheckACMResult("acmStreamOpen:", decoder_.open(formatIn_, formatOut_, useRealTime_));
    // From here on a failure closes the stream again, so that no open stream
    // is left behind an inactive component.
    try {
        uint32_t size = 0;
        CheckACMResult("acmStreamSize:", decoder_.size(inputBufferSize_, size));
        destinationBufferSize_ = size;
        try {
            sourceBuffer_.assign(inputBufferSize_ == 0 ? 1 : inputBufferSize_, 0);
            destinationBuffer_.assign(size == 0 ? 1 : size, 0);
        } catch (const std::bad_alloc&) {
            throw EACMConvertor(ACMResultText("acmStreamPrepareHeader:", MMSYSERR_NOMEM));
        }
        header_ = StreamHeader{sourceBuffer_.data(), inputBufferSize_, 0, destinationBuffer_.data(), size, 0};
    } catch (...) {
        releaseBuffers();
        decoder_.close();
        throw;
    }
    active_ = true;
}

void TACMConvertor::close() {
    // The component is inactive afterwards whatever the decoder says.
    const MMRESULT closed = decoder_.close();
    releaseBuffers();
    active_ = false;
    CheckACMResult("acmStreamClose:", closed);
}

}  // namespace notavox

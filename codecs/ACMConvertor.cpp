#include "codecs/ACMConvertor.h"

#include <cstdio>

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

void initialFormat(FormatArea& a) {
    a.fill(0);
    wfx::set16(a, wfx::kTag, WAVE_FORMAT_PCM);
    wfx::set16(a, wfx::kChannels, 1);
    wfx::set32(a, wfx::kSamplesPerSec, 22050);
    wfx::set32(a, wfx::kAvgBytesPerSec, 22050);
    wfx::set16(a, wfx::kBlockAlign, 1);
    wfx::set16(a, wfx::kBitsPerSample, 8);
    wfx::set16(a, wfx::kExtraSize, uint16_t(kFormatAreaSize));
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
    const uint32_t length = kFormatAreaSize;
    for (int i = 0; i < 4; ++i) out[size_t(i)] = uint8_t(length >> (8 * i));
    std::copy(area.begin(), area.end(), out.begin() + 4);
    return out;
}

bool ReadFormatProperty(const uint8_t* data, size_t size, FormatArea& area) {
    if (!data || size < 4) return false;
    const uint32_t length = uint32_t(data[0]) | uint32_t(data[1]) << 8 | uint32_t(data[2]) << 16 |
                            uint32_t(data[3]) << 24;
    if (length > kFormatAreaSize || size - 4 < length) return false;
    std::copy(data + 4, data + 4 + length, area.begin());
    return true;
}

TACMConvertor::TACMConvertor(AcmDriver& driver) : driver_(driver) {
    initialFormat(formatIn_);
    initialFormat(formatOut_);
}

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
    header_ = ACMSTREAMHEADER{};
}

void TACMConvertor::open() {
    HACMSTREAM handle = 0;
    CheckACMResult("acmStreamOpen:",
                   driver_.acmStreamOpen(&handle, formatIn_, formatOut_,
                                         useRealTime_ ? 0u : ACM_STREAMOPENF_NONREALTIME));
    stream_ = handle;
    // From here on a failure closes the stream again, so that no open stream
    // is left behind an inactive component.
    try {
        uint32_t size = 0;
        CheckACMResult("acmStreamSize:", driver_.acmStreamSize(stream_, inputBufferSize_, &size,
                                                               ACM_STREAMSIZEF_SOURCE));
        destinationBufferSize_ = size;
        try {
            sourceBuffer_.assign(inputBufferSize_ == 0 ? 1 : inputBufferSize_, 0);
            destinationBuffer_.assign(size == 0 ? 1 : size, 0);
            header_ = ACMSTREAMHEADER{};
            header_.cbStruct = kAcmStreamHeaderSize;
            header_.pbSrc = sourceBuffer_.data();
            header_.cbSrcLength = inputBufferSize_;
            header_.pbDst = destinationBuffer_.data();
            header_.cbDstLength = destinationBufferSize_;
        } catch (const std::bad_alloc&) {
            throw EACMConvertor(ACMResultText("acmStreamPrepareHeader:", MMSYSERR_NOMEM));
        }
        CheckACMResult("acmStreamPrepareHeader:", driver_.acmStreamPrepareHeader(stream_, header_, 0));
    } catch (...) {
        releaseBuffers();
        driver_.acmStreamClose(stream_, 0);
        stream_ = 0;
        destinationBufferSize_ = 0;
        throw;
    }
    active_ = true;
}

void TACMConvertor::close() {
    // The component is inactive afterwards whatever the driver says; the
    // first failure is reported once everything is released.
    const MMRESULT unprepared = driver_.acmStreamUnprepareHeader(stream_, header_, 0);
    const MMRESULT closed = driver_.acmStreamClose(stream_, 0);
    releaseBuffers();
    stream_ = 0;
    destinationBufferSize_ = 0;
    active_ = false;
    CheckACMResult("acmStreamUnPrepareHeader:", unprepared);
    CheckACMResult("acmStreamClose:", closed);
}

}  // namespace notavox

// TACMConvertor: one conversion stream of the decoder with its source and
// destination format areas, its two buffers and the stream header that every
// conversion call reuses. The owner makes the conversion calls itself through
// the decoder, the header and the buffers. Failures of the decoder become
// EACMConvertor exceptions with fixed English texts.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "codecs/Decoder.h"

namespace notavox {

class EACMConvertor : public std::runtime_error {
public:
    explicit EACMConvertor(const std::string& message) : std::runtime_error(message) {}
};

// The text of the result check for `label` and a non-zero `code`.
std::string ACMResultText(const std::string& label, MMRESULT code);

// Returns for 0; raises EACMConvertor with the label and the code's text.
void CheckACMResult(const std::string& label, MMRESULT code);

// A format area as stored in form data: a 32-bit little-endian length (129)
// followed by the 129 bytes.
std::vector<uint8_t> WriteFormatProperty(const FormatArea& area);
// Reads a stored format area: the length, then that many bytes. A length
// above 129 or data shorter than it says is refused (false) and the area
// keeps its contents.
bool ReadFormatProperty(const std::vector<uint8_t>& data, FormatArea& area);

class TACMConvertor {
public:
    explicit TACMConvertor(Decoder& decoder);
    ~TACMConvertor();  // closes an open stream first
    TACMConvertor(const TACMConvertor&) = delete;
    TACMConvertor& operator=(const TACMConvertor&) = delete;

    bool Active() const { return active_; }
    // true opens the stream, false closes it; the current value does nothing.
    void SetActive(bool value);

    uint32_t InputBufferSize() const { return inputBufferSize_; }
    void SetInputBufferSize(uint32_t size);
    bool UseRealTime() const { return useRealTime_; }
    void SetUseRealTime(bool value);

    uint8_t* SourceBuffer() { return sourceBuffer_.empty() ? nullptr : sourceBuffer_.data(); }
    uint8_t* DestinationBuffer() { return destinationBuffer_.empty() ? nullptr : destinationBuffer_.data(); }
    uint32_t DestinationBufferSize() const { return destinationBufferSize_; }
    StreamHeader& Header() { return header_; }
    Decoder& Codec() { return decoder_; }

    FormatArea& ACMFormatIn() { return formatIn_; }
    FormatArea& ACMFormatOut() { return formatOut_; }
    const FormatArea& ACMFormatIn() const { return formatIn_; }
    const FormatArea& ACMFormatOut() const { return formatOut_; }

    // The binary properties of the form data.
    std::vector<uint8_t> WriteACMFormatIn() const { return WriteFormatProperty(formatIn_); }
    std::vector<uint8_t> WriteACMFormatOut() const { return WriteFormatProperty(formatOut_); }
    bool ReadACMFormatIn(const std::vector<uint8_t>& data) { return ReadFormatProperty(data, formatIn_); }
    bool ReadACMFormatOut(const std::vector<uint8_t>& data) { return ReadFormatProperty(data, formatOut_); }

private:
    void open();
    void close();
    void releaseBuffers();

    Decoder& decoder_;
    bool active_ = false;
    bool useRealTime_ = false;
    std::vector<uint8_t> sourceBuffer_;
    std::vector<uint8_t> destinationBuffer_;
    uint32_t inputBufferSize_ = 2048;
    uint32_t destinationBufferSize_ = 0;
    StreamHeader header_{};
    FormatArea formatIn_{};
    FormatArea formatOut_{};
};

}  // namespace notavox

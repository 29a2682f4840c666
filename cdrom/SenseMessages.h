// Texts for SCSI sense data: the names of the 16 sense keys and the
// descriptions of the additional sense codes (ASC) with their qualifiers
// (ASCQ), for the CD dialog's log.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace notavox {

constexpr size_t kSenseKeyCount = 16;
constexpr size_t kAdditionalSenseCount = 310;

// Indexed by the sense key 0..15.
extern const std::array<const char*, kSenseKeyCount> kSenseKeyNames;

// Each entry is an 8-character key, "\" + ASC in three octal digits + "\" +
// ASCQ in three octal digits, followed by the description in lower case.
extern const std::array<const char*, kAdditionalSenseCount> kAdditionalSenseTexts;

// The sense key's name and ":" ("Fehler:" when `senseKey` is above 15, so a
// byte with flag bits set gives "Fehler:"), then, for every table entry of the
// ASC/ASCQ pair in table order, a blank and its description.
std::string geterrorMessage(uint8_t senseKey, uint8_t asc, uint8_t ascq);

}  // namespace notavox

// Reading one audio track of a CD into the recording: the table of contents,
// the read loop in requests of 10 sectors, the karaoke transform and the
// position text of the CD dialog.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "audio/AudioDocument.h"
#include "cdrom/DriveDiscovery.h"
#include "cdrom/ScsiTransport.h"

namespace notavox {

constexpr int32_t kMaxTocEntries = 256;
constexpr uint32_t kBlocksPerSecond = 75;
constexpr uint32_t kAudioBlockBytes = 2352;
constexpr uint32_t kBlocksPerRequest = 10;
constexpr uint32_t kRequestBytes = kBlocksPerRequest * kAudioBlockBytes;  // 23520
constexpr uint32_t kTocLength = 2048;
constexpr uint32_t kTocTimeout = 2;
constexpr uint32_t kReadCdTimeout = 200;
// More consecutive failed requests than this end the read.
constexpr int kMaxConsecutiveErrors = 10;

// Where the generic layer's load message sends the user.
extern const char* const kGenericLayerHelpAddress;

// The track table of the last TOC read. Entries are indexed from 1: entry k
// is the start (LBA, 75 blocks per second) of the k-th TOC entry, and the
// entry after the last track is the lead-out.
struct TrackTable {
    std::array<uint32_t, kMaxTocEntries + 1> trackStarts{};
    int32_t trackCount = 0;
};

// The CD dialog's state between reads.
struct CdRipState {
    bool ripStopRequested = false;
    TrackTable toc;
};

// What the read loop needs from the dialog that runs it.
class RipHost {
public:
    virtual ~RipHost() = default;
    // A turn of the message loop before each request, so that "Abbrechen"
    // can set ripStopRequested and the window repaints.
    virtual void ProcessMessages() {}
    // Appends one line to the log.
    virtual void log(const std::string& line) = 0;
    // Shows the track and time of a read position (ChangeSecText).
    virtual void ChangeSec(int64_t /*lba*/) {}
};

struct RipSettings {
    int32_t driveIndex = -1;   // the selected item of the drive list
    int32_t trackNumber = 1;   // counts TOC entries from 1
    bool karaoke = false;
};

enum class RipEnd {
    NoDrive,       // nothing selected: "Kein Laufwerk gefunden..."
    InvalidTrack,  // the track number is not on the disc: nothing else happened
    Finished,      // "Ripping beendet..." was logged; the recording was
                   // replaced when at least one request delivered audio
};

// Parses READ TOC data (format 0, LBA addresses) of `length` returned bytes.
// Reads only within those bytes and writes at most kMaxTocEntries entries;
// a TOC that does not fit, or whose last track is below its first, is
// rejected and `table` is left as it was.
bool ParseToc(const uint8_t* data, uint32_t length, TrackTable& table);

// Replaces each stereo frame of `bytes` (whole frames only) by the difference
// of its channels at two thirds of its level, in both channels, clamped to
// the 16-bit range. What both channels share (a centred voice) cancels.
void KaraokeTransform(uint8_t* data, size_t bytes);

// "Track no. <t> Time <hh>:<mm>:<ss> s" for a read position.
std::string ChangeSecText(int64_t lba, const TrackTable& table);

// The READ CD command of one request at `lba`: 10 blocks of 2352 bytes of
// user data, any sector type.
std::array<uint8_t, 12> ReadCdCdb(uint32_t lba);
// READ TOC: LBA addresses, format 0, from the first track, 2048 bytes.
std::array<uint8_t, 10> ReadTocCdb();

// "Fehler: SCSI Status <s>; Code:<key>;<asc>;<ascq> "<text>"" for a failed request.
std::string ReadErrorLine(const ScsiOutcome& outcome);

// Reads the track through the transport chosen at discovery and replaces
// `doc` by it (44100 Hz, stereo, 16-bit) when anything was read. Every
// outcome is a log line.
RipEnd SaveTrack(ScsiTransport& transport, const CdDriveTable& drives, const RipSettings& settings,
                 CdRipState& state, AudioDocument& doc, RipHost& host);

}  // namespace notavox

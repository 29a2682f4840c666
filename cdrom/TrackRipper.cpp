#include "cdrom/TrackRipper.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

#include "cdrom/SenseMessages.h"

namespace notavox {

const char* const kGenericLayerHelpAddress = "https://docs.kernel.org/scsi/scsi-generic.html";

namespace {

uint32_t bigEndian32(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}

std::string hexByte(uint8_t v) {
    char buf[4];
    std::snprintf(buf, sizeof buf, "%X", v);
    return buf;
}

std::string twoDigits(int64_t v) {
    std::string s = std::to_string(v);
    return s.size() == 1 ? "0" + s : s;
}

// One request to the drive: a command block and a data-in buffer.
using SendRequest = std::function<ScsiOutcome(const uint8_t* cdb, uint8_t cdbLength, uint8_t* data,
                                              uint32_t length, uint32_t timeoutSeconds)>;

// What differs between the two ways to the drive: how a request is sent and
// the log lines of failed requests.
struct RipPath {
    SendRequest send;
    std::string tocRequestFailed;                               // the TOC request failed
    std::function<std::string(const ScsiOutcome&)> readFailed;  // a READ CD request failed
};

// Reads the TOC, checks the track number and reads the track's sectors into
// `pcm`, ten at a time, through `path`.
void ripTrack(const RipPath& path, const RipSettings& settings, CdRipState& state, PcmCollector& pcm,
              RipHost& host, bool& invalidTrack) {
    int64_t current = 0, end = 0;
    TrackTable& toc = state.toc;
    toc.trackStarts[1] = 500;
    toc.trackStarts[2] = 450000;
    toc.trackCount = 1;
    {
        std::vector<uint8_t> data(kTocLength, 0);
        const auto cdb = ReadTocCdb();
        const ScsiOutcome out = path.send(cdb.data(), cdb.size(), data.data(), kTocLength, kTocTimeout);
        if (!out.succeeded()) {
            host.log(path.tocRequestFailed);
        } else if (!ParseToc(data.data(), out.transferred, toc)) {
            host.log("Konnte TOC nicht lesen...");
        } else {
            host.log("TOC eingelesen...");
            if (settings.trackNumber < 1 || settings.trackNumber > toc.trackCount) {
                host.log("Ungültige Track-Nummer...");
                invalidTrack = true;
                return;
            }
            host.log(std::to_string(toc.trackCount) + " Tracks gefunden...");
            current = toc.trackStarts[settings.trackNumber];
            end = toc.trackStarts[settings.trackNumber + 1];
        }
    }
    host.log("Starte Ripping...");

    std::vector<uint8_t> buffer(kRequestBytes, 0xFF);
    int errors = 0;
    // At most the length of the longest disc: a damaged TOC must not make the
    // read claim gigabytes before the drive has said a word.
    const uint64_t expected = end > current ? static_cast<uint64_t>(end - current) * kAudioBlockBytes : 0;
    pcm.reserve(static_cast<size_t>(std::min<uint64_t>(expected, uint64_t{450000} * kAudioBlockBytes)));
    while (!state.ripStopRequested && current < end) {
        host.ProcessMessages();
        const auto cdb = ReadCdCdb(static_cast<uint32_t>(current));
        const ScsiOutcome out = path.send(cdb.data(), cdb.size(), buffer.data(), kRequestBytes, kReadCdTimeout);
        if (out.succeeded()) {
            // Only what the drive delivered counts, in whole stereo frames.
            const size_t n = std::min(out.transferred, kRequestBytes) & ~size_t{3};
            if (settings.karaoke) KaraokeTransform(buffer.data(), n);
            if (!pcm.append(buffer.data(), n)) {
                host.log("Zu wenig Speicher, Ripping abgebrochen...");
                state.ripStopRequested = true;
            }
            errors = 0;
        } else {
            host.log(path.readFailed(out));
            if (++errors > kMaxConsecutiveErrors) state.ripStopRequested = true;
        }
        current += kBlocksPerRequest;
        host.ChangeSec(current);
    }
    host.ChangeSec(current);
}

// The pass-through on the drive's CD block device.
void ripThroughBlockDevice(ScsiTransport& transport, const CdDrive& drive, const RipSettings& settings,
                           CdRipState& state, PcmCollector& pcm, RipHost& host, bool& invalidTrack) {
    std::unique_ptr<ScsiDevice> device = transport.openDevice(drive.device);
    if (!device) {
        host.log("Kein Laufwerkszugriff über SPTI möglich...");
        return;
    }
    const RipPath path{[&](const uint8_t* cdb, uint8_t n, uint8_t* data, uint32_t length, uint32_t timeout) {
                           return device->execute(cdb, n, data, length, timeout);
                       },
                       "Konnte TOC nicht lesen...", [](const ScsiOutcome& out) { return ReadErrorLine(out); }};
    ripTrack(path, settings, state, pcm, host, invalidTrack);
}

// The generic SCSI layer at the drive's address.
void ripThroughGenericLayer(ScsiTransport& transport, const CdDrive& drive, const RipSettings& settings,
                            CdRipState& state, PcmCollector& pcm, RipHost& host, bool& invalidTrack) {
    std::unique_ptr<GenericScsiLayer> layer = transport.loadGenericLayer();
    if (!layer) {
        host.log(std::string("Konnte ASPI Layer nicht laden. Downloaden Sie den ASPI-Treiber von ") +
                 kGenericLayerHelpAddress + "!");
        return;
    }
    const uint8_t support = static_cast<uint8_t>(layer->supportInfo() >> 8);
    if (support != kGenericCompleted && support != kGenericNoAdapters) {
        host.log("Konnte ASPI Layer nicht initialisieren...");
        return;
    }
    const std::string error = "Fehler " + std::to_string(kGenericError);
    const RipPath path{[&](const uint8_t* cdb, uint8_t n, uint8_t* data, uint32_t length, uint32_t timeout) {
                           return layer->execute(drive.hostAdapter, drive.target, drive.lun, cdb, n, data, length,
                                                 timeout);
                       },
                       error + "! Konnte TOC nicht lesen...",
                       [&](const ScsiOutcome&) { return error + " beim Ausführen des SCSI Kommandos..."; }};
    ripTrack(path, settings, state, pcm, host, invalidTrack);
}

}  // namespace

bool ParseToc(const uint8_t* data, uint32_t length, TrackTable& table) {
    if (length < 4) return false;
    const int first = data[2];
    const int last = data[3];
    if (last < first) return false;
    const int n = last - first + 2;  // the tracks and the lead-out
    if (n > kMaxTocEntries) return false;
    if (4 + 8 * static_cast<uint32_t>(n) > length) return false;
    for (int j = 0; j < n; ++j) table.trackStarts[j + 1] = bigEndian32(data + 8 + 8 * j);
    table.trackCount = n - 1;
    return true;
}

void KaraokeTransform(uint8_t* data, size_t bytes) {
    for (size_t i = 0; i + 4 <= bytes; i += 4) {
        const int32_t l = static_cast<int16_t>(data[i] | (data[i + 1] << 8));
        const int32_t r = static_cast<int16_t>(data[i + 2] | (data[i + 3] << 8));
        const int32_t v = std::clamp((l - r) * 2 / 3, -32768, 32767);
        const uint16_t u = static_cast<uint16_t>(v);
        data[i] = data[i + 2] = static_cast<uint8_t>(u & 0xFF);
        data[i + 1] = data[i + 3] = static_cast<uint8_t>(u >> 8);
    }
}

std::string ChangeSecText(int64_t lba, const TrackTable& table) {
    int32_t track = 1;
    int64_t base = 0;
    const int32_t lastEntry = std::clamp(table.trackCount + 1, 0, kMaxTocEntries);
    for (int32_t k = 1; k <= lastEntry; ++k) {
        if (lba < static_cast<int64_t>(table.trackStarts[k])) {
            track = std::max(k - 1, 1);
            base = table.trackStarts[track];
            break;
        }
    }
    // A position before the first track's start shows as 0 seconds.
    const int64_t s = std::max<int64_t>((lba - base) / kBlocksPerSecond, 0);
    const int64_t minutes = s / 60;
    return "Track no. " + std::to_string(track) + " Time " + twoDigits(minutes / 60) + ":" + twoDigits(minutes % 60) +
           ":" + twoDigits(s % 60) + " s";
}

std::array<uint8_t, 12> ReadCdCdb(uint32_t lba) {
    return {0xBE,
            0x00,
            static_cast<uint8_t>(lba >> 24),
            static_cast<uint8_t>(lba >> 16),
            static_cast<uint8_t>(lba >> 8),
            static_cast<uint8_t>(lba),
            0x00,
            0x00,
            static_cast<uint8_t>(kBlocksPerRequest),
            0x10,
            0x00,
            0x00};
}

std::array<uint8_t, 10> ReadTocCdb() {
    return {0x43, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x08, 0x00, 0x00};
}

std::string ReadErrorLine(const ScsiOutcome& out) {
    const uint8_t key = out.sense[2], asc = out.sense[12], ascq = out.sense[13];
    return "Fehler: SCSI Status " + std::to_string(out.scsiStatus) + "; Code:" + hexByte(key) + ";" + hexByte(asc) +
           ";" + hexByte(ascq) + " \"" + geterrorMessage(key, asc, ascq) + "\"";
}

RipEnd SaveTrack(ScsiTransport& transport, const CdDriveTable& drives, const RipSettings& settings,
                 CdRipState& state, AudioDocument& doc, RipHost& host) {
    state.ripStopRequested = false;
    if (settings.driveIndex < 0 || settings.driveIndex >= drives.cdDriveCount ||
        settings.driveIndex >= kMaxCdDrives) {
        host.log("Kein Laufwerk gefunden...");
        return RipEnd::NoDrive;
    }
    const CdDrive& drive = drives.cdDrives[settings.driveIndex];
    PcmCollector pcm;
    bool invalidTrack = false;
    if (drives.useSpti)
        ripThroughBlockDevice(transport, drive, settings, state, pcm, host, invalidTrack);
    else
        ripThroughGenericLayer(transport, drive, settings, state, pcm, host, invalidTrack);
    if (invalidTrack) return RipEnd::InvalidTrack;

    if (pcm.size() > 0) {
        const auto length = static_cast<int32_t>(pcm.size());
        doc.replace(pcm.take(), length, 44100, true, true);
    }
    host.log("Ripping beendet...");
    return RipEnd::Finished;
}

}  // namespace notavox

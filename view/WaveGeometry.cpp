#include "view/WaveGeometry.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "audio/Rounding.h"

namespace notavox {

namespace {

inline int32_t toInt32(int64_t v) {
    return int32_t(std::clamp<int64_t>(v, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
}

}  // namespace

int32_t ZoomValueFor(double v) {
    if (std::isnan(v)) v = kZoomMin;
    return int32_t(roundHalfEven(std::clamp(v, double(kZoomMin), double(kZoomMax))));
}

int32_t EffectiveZoom(int64_t editValue) { return editValue < 1 ? 1 : toInt32(editValue); }

int32_t ZoomOutFullValue(int32_t sampleCount, int32_t width) {
    if (width < 1) width = 1;
    return ZoomValueFor(double(sampleCount / width));
}

int32_t ZoomSelValue(int32_t selectionStart, int32_t selectionEnd, int32_t width) {
    if (width < 1) width = 1;
    const int64_t span = std::llabs(int64_t(selectionEnd) - int64_t(selectionStart));
    return ZoomValueFor(double(span / width));
}

int32_t ZoomKleinerValue(int32_t zoom) { return ZoomValueFor(double(zoom) * 1.5); }
int32_t ZoomGroesserValue(int32_t zoom) { return ZoomValueFor(double(zoom) / 1.5); }

int32_t ZoomSelPosition(int32_t selectionStart, int32_t selectionEnd, int32_t zoom) {
    return toInt32(int64_t(std::min(selectionStart, selectionEnd)) / int64_t(EffectiveZoom(zoom)));
}

int32_t ScrollMaximum(int32_t sampleCount, int32_t width, int32_t zoom) {
    const int64_t z = EffectiveZoom(zoom);
    const int64_t m = (int64_t(sampleCount) - int64_t(width) * z) / z;
    return m <= 0 ? 1 : toInt32(m);
}

int32_t RescaledPosition(int32_t position, int32_t oldMax, int32_t newMax) {
    if (oldMax == 0) return 0;
    return toInt32(int64_t(position) * int64_t(newMax) / int64_t(oldMax));
}

int64_t ColumnSampleIndex(int32_t zoom, int32_t position, int32_t column) {
    const int64_t z = EffectiveZoom(zoom);
    return z * column + z * position;
}

int32_t MouseSampleIndex(int32_t zoom, int32_t position, int32_t mouseX, int32_t sampleCount) {
    int64_t i = int64_t(EffectiveZoom(zoom)) * (int64_t(mouseX) + int64_t(position));
    if (i < 0) i = 0;
    if (i >= sampleCount) i = int64_t(sampleCount) - 1;
    return int32_t(i);
}

int32_t SelectionColumn(int32_t selectionEnd, int32_t zoom, int32_t position, int32_t width) {
    const int64_t z = EffectiveZoom(zoom);
    const int64_t x = (int64_t(selectionEnd) - z * position) / z;
    return int32_t(std::clamp<int64_t>(x, -1, std::max(width, 0)));
}

int32_t TraceY16(int32_t value, int32_t height) {
    return toInt32(int64_t(value) * (int64_t(height) - 1) / 65536 + height / 2);
}

int32_t TraceY8(int32_t value, int32_t height) { return toInt32(int64_t(value) * (int64_t(height) - 1) / 255); }

void ComputeWaveView(const AudioDocument& doc, int32_t zoom, int32_t position, int32_t width,
                     int32_t height, WaveViewPicture& out, const WaveSummary* summary) {
    const int32_t z = EffectiveZoom(zoom);
    out.bandFrom = SelectionColumn(doc.selectionStart, z, position, width);
    out.bandTo = SelectionColumn(doc.selectionEnd, z, position, width);
    out.band = out.bandFrom != out.bandTo;
    out.markerColumn = out.bandFrom;
    out.trace.clear();
    out.spans.clear();
    if (width <= 0 || !doc.sampleData) return;
    if (z > 1) {
        out.spans.reserve(size_t(width));
        const int64_t n = doc.sampleCount();
        for (int32_t x = 0; x < width; ++x) {
            const int64_t i = ColumnSampleIndex(z, position, x);
            if (i >= n) break;
            ValueRange r;
            const bool any = summary ? summary->range(doc, i, i + z, r) : ScanValueRange(doc, i, i + z, r);
            if (!any) continue;
            if (doc.sixteenBit)
                out.spans.push_back({x, TraceY16(r.lo, height), TraceY16(r.hi, height)});
            else
                out.spans.push_back({x, TraceY8(r.lo, height), TraceY8(r.hi, height)});
        }
        return;
    }
    out.trace.reserve(size_t(width));
    const uint8_t* p = doc.sampleData.get();
    const int64_t bytes = doc.byteCount;
    for (int32_t x = 0; x < width; ++x) {
        const int64_t i = ColumnSampleIndex(z, position, x);
        if (i < 0) continue;
        if (doc.sixteenBit) {
            // Sample indices only grow with x: past the data, nothing follows.
            if (2 * i + 2 > bytes) break;
            int16_t s;
            std::memcpy(&s, p + 2 * i, 2);
            out.trace.push_back({x, TraceY16(s, height)});
        } else {
            if (i >= bytes) break;
            out.trace.push_back({x, TraceY8(p[i], height)});
        }
    }
}

}  // namespace notavox

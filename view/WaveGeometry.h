// The arithmetic of the waveform view, free of any toolkit: the zoom value's
// clamp and rounding, the zoom commands, the scroll range, the mapping between
// pixel columns and sample indices, and what one repaint draws. All products
// of zoom, column and position are taken in 64 bits and clamped, so a
// recording near the largest block size at the largest zoom cannot overflow.
#pragma once

#include <cstdint>
#include <vector>

#include "audio/AudioDocument.h"
#include "view/WaveSummary.h"

namespace notavox {

inline constexpr int32_t kZoomMin = 1;
inline constexpr int32_t kZoomMax = 1000000;
inline constexpr int32_t kZoomInitial = 100;
inline constexpr int32_t kZoomIncrement = 10;
inline constexpr int32_t kScrollInitialMax = 100;
inline constexpr int32_t kScrollSmallChange = 10;
inline constexpr int32_t kScrollLargeChange = 100;

// A value the program writes into the zoom edit: clamped to 1..1000000, then
// rounded to an integer, half to even.
int32_t ZoomValueFor(double v);
// The zoom as read from the edit: anything below 1 counts as 1.
int32_t EffectiveZoom(int64_t editValue);

// New zoom values of the zoom commands (already clamped and rounded).
int32_t ZoomOutFullValue(int32_t sampleCount, int32_t width);      // "Ganze Datei"
int32_t ZoomSelValue(int32_t selectionStart, int32_t selectionEnd, int32_t width);  // "Zoom auf Auswahl"
int32_t ZoomKleinerValue(int32_t zoom);                             // "Kleiner": z * 1.5
int32_t ZoomGroesserValue(int32_t zoom);                            // "Größer": z / 1.5
// Scroll position after "Zoom auf Auswahl", with the zoom read back from the
// edit; the scroll bar then clamps it to its range.
int32_t ZoomSelPosition(int32_t selectionStart, int32_t selectionEnd, int32_t zoom);

// Scroll bar maximum for a zoom: (N - W*z) div z, at least 1.
int32_t ScrollMaximum(int32_t sampleCount, int32_t width, int32_t zoom);
// The scroll position carried over to a new maximum: p * newMax div oldMax.
int32_t RescaledPosition(int32_t position, int32_t oldMax, int32_t newMax);

// The sample index shown in column x: z*x + z*p (64 bits).
int64_t ColumnSampleIndex(int32_t zoom, int32_t position, int32_t column);
// The sample index under mouse x coordinate X: z*(X+p), limited to 0..N-1
// (so -1 for an empty recording).
int32_t MouseSampleIndex(int32_t zoom, int32_t position, int32_t mouseX, int32_t sampleCount);
// The column of a selection end: (end - z*p) div z, truncating toward zero,
// limited to -1..width (both limits lie outside the bitmap).
int32_t SelectionColumn(int32_t selectionEnd, int32_t zoom, int32_t position, int32_t width);

// y coordinate of a sample value in a view of height h.
int32_t TraceY16(int32_t value, int32_t height);
int32_t TraceY8(int32_t value, int32_t height);

struct TracePoint {
    int32_t x = 0;
    int32_t y = 0;
};

// A column of a view zoomed out beyond one sample per column: a vertical line
// from the lowest to the highest value the column covers.
struct TraceSpan {
    int32_t x = 0;
    int32_t yLow = 0;   // y of the lowest value
    int32_t yHigh = 0;  // y of the highest value
};

// Everything one repaint draws, in drawing order: the band between the two
// selection columns (when they differ), the trace, and the anchor line in the
// column of selectionStart. At one sample per column (zoom 1) the trace runs
// from (0, 128) through one point per column that has data; zoomed out
// further, each column with data gets a span of the values it covers, so a
// steady tone is drawn as a solid band and never as a slower wave.
struct WaveViewPicture {
    int32_t bandFrom = 0;   // column of selectionStart
    int32_t bandTo = 0;     // column of selectionEnd
    bool band = false;
    int32_t markerColumn = 0;
    std::vector<TracePoint> trace;  // zoom 1: the points after the starting point (0, 128)
    std::vector<TraceSpan> spans;   // zoom 2 and more: one span per column with data
};
inline constexpr int32_t kTraceStartY = 128;

// At zoom 1 reads one sample value per column. Zoomed out, each column's
// range comes from `summary` when it matches the recording (a few steps per
// column, whatever the zoom), else from reading the column's samples.
void ComputeWaveView(const AudioDocument& doc, int32_t zoom, int32_t position, int32_t width,
                     int32_t height, WaveViewPicture& out, const WaveSummary* summary = nullptr);

}  // namespace notavox

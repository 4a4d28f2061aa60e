// The chart painters, one per chart page. The main dialog runs the painter of the page shown,
// on the user-interface thread, and each follows the frame rule of ui/frame_rule.h: it reads
// its marks once at the start and closes with endChartPaint. The cache painter also runs the
// cache-curve analysis, which fills that page's figures.
#pragma once

namespace vardelo {

void paintCacheChart();
void paintReadChart();
void paintWriteChart();

}  // namespace vardelo

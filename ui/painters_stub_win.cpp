// Painters that draw nothing yet: they keep the repaint protocol going (the frame choice at the
// start, the closing that clears the page's marks) and the cache page's figures coming, until
// the charts are drawn.
#include "ui/painters.h"
#include "workers/cache_analysis.h"
#include "workers/refresh.h"

namespace vardelo {

void paintCacheChart() {
  [[maybe_unused]] const bool fullFrame = chartWantsFullFrame(Chart::Cache);
  analyseCacheCurves();
  endChartPaint(Chart::Cache);
}

void paintReadChart() {
  [[maybe_unused]] const bool fullFrame = chartWantsFullFrame(Chart::Read);
  endChartPaint(Chart::Read);
}

void paintWriteChart() {
  [[maybe_unused]] const bool fullFrame = chartWantsFullFrame(Chart::Write);
  endChartPaint(Chart::Write);
}

}  // namespace vardelo

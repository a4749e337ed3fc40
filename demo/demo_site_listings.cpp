#include "demo/demo_data.h"

namespace fern::host::demo_data {

void SiteListingData(Batch& b) { (void)b; }

}  // namespace fern::host::demo_data

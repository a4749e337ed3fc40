#include "demo/demo_data.h"

namespace fern::host::demo_data {

void SiteTextData(Batch& b) { (void)b; }

}  // namespace fern::host::demo_data

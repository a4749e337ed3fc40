#include "demo/demo_data.h"

namespace fern::host::demo_data {

void SiteMediaData(Batch& b, const std::filesystem::path& folder) {
  (void)b;
  (void)folder;
}

}  // namespace fern::host::demo_data

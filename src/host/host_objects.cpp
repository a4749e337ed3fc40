#include "host/host_objects.h"

#include <functional>
#include <utility>

#include "host/CUDDictionary.h"
#include "host/LanguagePack.h"
#include "host/cCryptUtil.h"
#include "host/cDal.h"
#include "host/cDbIni.h"
#include "host/cKVBlob.h"
#include "host/cKVHtml.h"
#include "host/cKVUtil.h"
#include "host/cProgress.h"
#include "host/cSkin.h"
#include "host/cUtil.h"
#include "host/cdbutil.h"

namespace fern::host {

std::shared_ptr<Dispatch> CreateHostObject(std::string_view progId) {
  using Make = std::function<std::shared_ptr<Dispatch>()>;
  static const std::pair<const char*, Make> classes[] = {
      {"tolvastdc10.cDal", [] { return std::make_shared<cDal>(); }},
      {"tolvastdc10.cdbutil", [] { return std::make_shared<cdbutil>(); }},
      {"tolvastdc10.cUtil", [] { return std::make_shared<cUtil>(); }},
      {"tolvastdc10.cDbIni", [] { return std::make_shared<cDbIni>(); }},
      {"tolvastdc10.cProgress", [] { return std::make_shared<cProgress>(); }},
      {"tolvastdc10.cCryptUtil", [] { return std::make_shared<cCryptUtil>(); }},
      {"tolvastdc10.cSkin", [] { return std::make_shared<cSkin>(); }},
      {"tolvastdc10.CUDDictionary", [] { return std::make_shared<CUDDictionary>(); }},
      {"tolvaKVBol10.cKVUtil", [] { return std::make_shared<cKVUtil>(); }},
      {"tolvaKVBol10.cKVBlob", [] { return std::make_shared<cKVBlob>(); }},
      {"tolvaKVBol10.cKVHtml", [] { return std::make_shared<cKVHtml>(); }},
  };
  for (const auto& [name, make] : classes)
    if (NameIs(progId, name)) return make();
  return nullptr;
}

}  // namespace fern::host

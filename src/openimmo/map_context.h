// The records and documents one mapping entry is filled from.
#pragma once

#include "db/Recordset.h"
#include "xml/xml_dom.h"

namespace fern::openimmo {

struct MapContext {
  db::Recordset* boersen = nullptr;
  db::Recordset* obj = nullptr;
  db::Recordset* details = nullptr;
  XmlDocument* schema = nullptr;
  XmlDocument* mapping = nullptr;
};

}  // namespace fern::openimmo

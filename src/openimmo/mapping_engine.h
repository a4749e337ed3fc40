// The mapping engine: a mapping file applied to one listing element, field by field, and the
// elements that are not one field to one element (address parts, street and house number,
// parking-space prices, currency, the customer's own elements, the content language).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "db/Recordset.h"
#include "openimmo/export_settings.h"
#include "openimmo/map_context.h"
#include "openimmo/schema_template.h"
#include "openimmo/tElementInfo.h"
#include "services/cImmoHelperV2.h"
#include "xml/xml_dom.h"

namespace fern {

class cDal;
class cUtil;

namespace openimmo {

// What the mapping engine reads of the run, as the exporter holds it at each call.
struct MappingRun {
  const ExportSettings& settings;
  cDal* const& dal;
  const std::string& connect;
  cUtil* const& util;  // the message answerer
  const std::unique_ptr<cImmoHelperV2>& data;
  SchemaTemplate& schemaTemplate;
};

class MappingEngine {
 public:
  explicit MappingEngine(const MappingRun& run)
      : run_(run), customTypes_(run.settings, [] { return std::string(); }) {}

  void FillFromZuordnungen(XmlDocument& mapping, const XmlNodePtr& listing,
                           db::Recordset& rsboersen, db::Recordset& rsObj, db::Recordset& details,
                           XmlDocument& schema);
  void FillElementByInfo(XmlNode& entry, XmlNodePtr& target, const MapContext& c,
                         tElementInfo& info);
  void GetSourceValue(XmlNode& entry, XmlNodePtr& target, const MapContext& c, tElementInfo* info);
  void SetFlagElement(XmlNode& entry, XmlNode& target, const MapContext& c);
  void FillAttributes(XmlNode& entry, XmlNode& target, const MapContext& c, tElementInfo* info);
  void SetAttributeValues(XmlNode& entry, XmlNode& target, const MapContext& c, tElementInfo& info);
  void GetEnumElementValue(XmlNodePtr& target, XmlNode& entry, tElementInfo& info,
                           const MapContext& c);
  std::string MapEnumValue(XmlNode& entry, const std::string& value) const;
  static std::string GetNodeValue(const XmlNodePtr& node, const std::string& name,
                                  bool isAttribute);
  // The value written for a value type; "" when nothing is to be written.
  std::string FormatByType(int32_t eType, const std::string& value, bool invert,
                           const std::string& attrName = {}) const;
  // The listing's values of a field code in one column of its detail rows.
  std::vector<std::string> Feldart(db::Recordset& details, const std::string& code,
                                   const std::string& column);

  // "plz", "ort" or "land" of `geo` from a field that holds country code, postcode and town:
  // three or two entries ("plz" and "ort") of the section on the same source split it; two
  // entries naming another element show "unsinnige Feldkombination" through the message
  // answerer (which answers at once in an unattended run) and write nothing; one entry fills
  // the element like any other.
  void FillGeoFromLandPlzOrt(XmlNode& entry, XmlNode& target, const MapContext& c);
  // Splits the field's first value into `iso_land` of "land", "plz" and "ort" beside `target`;
  // a part the look-up does not give leaves its element as it is.
  void SetPlzOrtLand(db::Recordset& details, XmlNode& target, const std::string& code);
  // Street and house number (into the sibling "hausnummer") from the entry's field.
  void FillHausnummer(XmlNode& entry, XmlNode& target, const MapContext& c);
  // Parking-space prices of the first type the listing holds, into `preise`.
  void FillStellplatz(XmlDocument& mapping, XmlNode& element, db::Recordset& details);
  // Parking-space prices of every type the listing holds, each from its own entry of the
  // mapping's `preise` section; a price the listing lacks stays empty.
  void FillStellplatzPreise(XmlDocument& mapping, XmlNode& element, db::Recordset& details);
  // The field's first "VON_NUM" value with "." as decimal point; "" for "0".
  std::string FormatVonNum(db::Recordset& details, const std::string& code);
  // "EUR", "USD", "CHF" or "GBP" for "€", "$", "SFr" or "£" (exact); anything else unchanged.
  std::string GetWaehrungIso(const std::string& currency) const;
  // Adds the customer's own elements that the mapping declares below `user_defined_anyfield`
  // of a section to the template: the listing's own block for "allgemein", a new block in the
  // section's element otherwise. They carry the document's prefix and namespace.
  void FillUserDefinedAnyfield(XmlDocument& doc, XmlDocument& mapping);
  // The customer's element `name` in the listing's block of `section`; null when there is
  // none. "plaintext" and "flag" of "allgemein" give a fresh copy each time, appended to the
  // block, so each entry fills its own.
  XmlNodePtr CopyUserDefinedAnyfield(XmlNode& listing, const std::string& section,
                                     const std::string& name);
  // "_LCID" + the first content language the listing row marks for transfer; "" for none.
  std::string LoadContentLanguages(db::Recordset& rsObj);

 private:
  MappingRun run_;
  // The records of the customer's elements, read from a mapping file's declarations: apart from
  // the schema's, as a customer may give an element a name the schema also uses.
  SchemaTemplate customTypes_;
};

}  // namespace openimmo
}  // namespace fern

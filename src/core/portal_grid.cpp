#include "core/portal_grid.h"

#include "core/host_session.h"
#include "host/cDal.h"
#include "host/cUtil.h"
#include "platform/vb.h"

namespace fern {

std::string GuiIniPath() { return GetHostPath(Session().g_strProfilePath + "\\gui.ini"); }

void PortalGrid::LoadPortalGrid() {
  HostSession& s = Session();
  notes_ = s.g_oDal->GetRecordset(s.g_strConnect, " select * from boersen order by boersen_name ");
  auto rs = s.g_oDal->GetRecordset(
      s.g_strConnect,
      " select dsn, cast('1' as tinyint) as uebertragen, (boersen_name) as beschriftung, "
      "boersen_name  from boersen order by boersen_name ");
  rows_.clear();
  for (; !rs->Eof(); rs->MoveNext()) {
    rows_.push_back({cUtil::k(rs->Value(size_t{0})), cUtil::k(rs->Value(size_t{1})),
                     cUtil::k(rs->Value(size_t{2})), cUtil::k(rs->Value(size_t{3}))});
  }
}

std::string PortalGrid::GetNotiz(int64_t row) const {
  if (!notes_ || row < 1 || row > static_cast<int64_t>(rows_.size())) return {};
  const std::string& dsn = rows_[row - 1].dsn;
  for (notes_->MoveFirst(); !notes_->Eof(); notes_->MoveNext())
    if (cUtil::k(notes_->Value("dsn")) == dsn) return cUtil::k(notes_->Value("notiz"));
  return {};
}

std::string PortalGrid::GetPortalList(bool blnCheckedOnly) const {
  std::string list;
  for (const PortalRow& r : rows_) {
    if (blnCheckedOnly) {
      if (r.uebertragen == "1") list += r.beschriftung + "|";
    } else {
      list += r.beschriftung + "=" + r.uebertragen + "|";
    }
  }
  return list;
}

std::vector<std::string> PortalGrid::ApplyPortalList(std::string strList) {
  std::vector<std::string> unmatched;
  while (!strList.empty()) {
    std::string entry = cUtil::StrList_DeleteFirst(strList, "|");
    std::string name = entry, value;
    size_t eq = entry.find('=');
    if (eq != std::string::npos) {
      name = entry.substr(0, eq);
      value = entry.substr(eq + 1);
    }
    if (vb::Trim(value).empty()) value = "1";
    int64_t row = CheckPortalByName(name);
    if (row > 0)
      rows_[row - 1].uebertragen = value;
    else if (!vb::Trim(name).empty())
      unmatched.push_back(vb::Trim(name));
  }
  return unmatched;
}

std::string PortalGrid::GetAllPortalNames() const {
  std::string list;
  for (const PortalRow& r : rows_) list += r.beschriftung + "|";
  return list;
}

void PortalGrid::ClearPortalChecks() {
  for (PortalRow& r : rows_) r.uebertragen = "0";
}

int64_t PortalGrid::CheckPortalByName(const std::string& strName) const {
  std::string name = vb::UCase(vb::Trim(strName));
  if (name.empty()) return -1;
  for (size_t i = 0; i < rows_.size(); ++i)
    if (vb::UCase(rows_[i].beschriftung) == name) return static_cast<int64_t>(i) + 1;
  return -1;
}

void PortalGrid::LoadTransferStatus() {
  std::string value =
      Session().g_oUtil->IniGet("FernDispatcher", "TransferStatus", "", GuiIniPath());
  if (!value.empty()) ApplyPortalList(value);
}

void PortalGrid::SaveTransferStatus() const {
  Session().g_oUtil->IniWrite("FernDispatcher", "TransferStatus", GetPortalList(false),
                              GuiIniPath());
}

}  // namespace fern

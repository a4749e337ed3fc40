// The portal grid's content without a widget: one row per portal with its key, check value
// ("1"/"0") and name, the check-state lists saved in "gui.ini", and the portals' notes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "db/Recordset.h"

namespace fern {

struct PortalRow {
  std::string dsn;
  std::string uebertragen;   // "1" checked, "0" not
  std::string beschriftung;  // the portal name shown beside the check box
  std::string boersen_name;
};

class PortalGrid {
 public:
  // Reads the portals from the host database (every row checked at first).
  void LoadPortalGrid();
  void SetRows(std::vector<PortalRow> rows) { rows_ = std::move(rows); }

  const std::vector<PortalRow>& Rows() const { return rows_; }
  std::vector<PortalRow>& Rows() { return rows_; }
  bool Empty() const { return rows_.empty(); }

  // The note of a grid row (1-based), found by the portal's key: two portals of one name must
  // not show each other's note.
  std::string GetNotiz(int64_t row) const;

  std::string GetPortalList(bool blnCheckedOnly) const;
  // Sets the check values of the named portals; returns the names that match no portal.
  std::vector<std::string> ApplyPortalList(std::string strList);
  std::string GetAllPortalNames() const;
  void ClearPortalChecks();
  // 1-based row of the first portal of that name (trimmed, without regard to case); -1 if none.
  int64_t CheckPortalByName(const std::string& strName) const;

  // "TransferStatus" of section "FernDispatcher" in the profile's "gui.ini".
  void LoadTransferStatus();
  void SaveTransferStatus() const;

 private:
  std::vector<PortalRow> rows_;
  std::shared_ptr<db::Recordset> notes_;
};

// The profile's "gui.ini" of the host session.
std::string GuiIniPath();

}  // namespace fern

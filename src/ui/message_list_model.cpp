#include "ui/message_list_model.h"

namespace fern {

int MessageListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(lines_.size());
}

QVariant MessageListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= static_cast<int>(lines_.size())) return {};
  if (role != Qt::DisplayRole) return {};
  return lines_[static_cast<size_t>(index.row())];
}

void MessageListModel::Append(const QString& line, size_t maxBeforeAdd) {
  if (lines_.size() > maxBeforeAdd) {
    beginRemoveRows(QModelIndex(), 0, 0);
    lines_.pop_front();
    endRemoveRows();
  }
  const int row = static_cast<int>(lines_.size());
  beginInsertRows(QModelIndex(), row, row);
  lines_.push_back(line);
  endInsertRows();
}

void MessageListModel::Clear() {
  beginResetModel();
  lines_.clear();
  endResetModel();
}

}  // namespace fern

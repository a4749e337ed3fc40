// The lines of the window's message list, one row each, in the order they came.
#pragma once

#include <QAbstractListModel>
#include <QString>

#include <cstddef>
#include <deque>

namespace fern {

class MessageListModel : public QAbstractListModel {
 public:
  using QAbstractListModel::QAbstractListModel;

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

  // Adds a line at the end; with more than `maxBeforeAdd` lines the oldest goes first.
  void Append(const QString& line, size_t maxBeforeAdd);
  void Clear();

 private:
  std::deque<QString> lines_;
};

}  // namespace fern

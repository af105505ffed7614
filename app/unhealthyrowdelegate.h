#pragma once

#include <QStyledItemDelegate>

namespace ostrelle {

// Keeps a red row recognisable while it is selected: the highlight would otherwise paint over its
// red text. A selected red row gets light red text on the highlight and a red mark in its first
// cell; every other row is drawn as usual.
class UnhealthyRowDelegate final : public QStyledItemDelegate
{
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;
};

} // namespace ostrelle

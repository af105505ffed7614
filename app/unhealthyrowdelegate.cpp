#include "app/unhealthyrowdelegate.h"

#include <QBrush>
#include <QPainter>

namespace ostrelle {

namespace {

// The model gives a foreground brush only to unhealthy rows.
bool isSelectedRedRow(const QStyleOptionViewItem& option, const QModelIndex& index)
{
    return option.state.testFlag(QStyle::State_Selected) &&
           index.data(Qt::ForegroundRole).canConvert<QBrush>();
}

// Pure red on the usual blue highlight is barely legible; a light red still reads as red.
constexpr QColor SelectedRedText(255, 190, 190);
constexpr int MarkWidth = 4;

} // namespace

void UnhealthyRowDelegate::initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const
{
    QStyledItemDelegate::initStyleOption(option, index);
    if (isSelectedRedRow(*option, index))
        option->palette.setColor(QPalette::HighlightedText, SelectedRedText);
}

void UnhealthyRowDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                 const QModelIndex& index) const
{
    QStyledItemDelegate::paint(painter, option, index);
    if (index.column() != 0 || !isSelectedRedRow(option, index))
        return;
    const QRect mark(option.rect.left(), option.rect.top(), MarkWidth, option.rect.height());
    painter->fillRect(mark, index.data(Qt::ForegroundRole).value<QBrush>());
}

} // namespace ostrelle

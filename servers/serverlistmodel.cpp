#include "servers/serverlistmodel.h"

#include <QBrush>
#include <QImage>
#include <QPainter>

namespace ostrelle {

namespace {

constexpr int ColumnCount = static_cast<int>(ServerColumn::Count);

// A padlock drawn here rather than taken from an icon theme, so that it looks the same on every
// desktop; an image, not a pixmap, so that a model without a GUI application can still make it.
QImage lockMark()
{
    static const QImage mark = [] {
        QImage image(16, 16, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(QColor(0x55, 0x55, 0x55), 1.6));
        painter.drawArc(QRectF(4.5, 1.5, 7, 9), 0, 180 * 16);
        painter.drawLine(QPointF(4.5, 6), QPointF(4.5, 8));
        painter.drawLine(QPointF(11.5, 6), QPointF(11.5, 8));
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(0xc8, 0x96, 0x1e));
        painter.drawRoundedRect(QRectF(2.5, 7.5, 11, 8), 1.5, 1.5);
        painter.setBrush(QColor(0x55, 0x40, 0x10));
        painter.drawEllipse(QRectF(7, 10, 2, 2.5));
        return image;
    }();
    return mark;
}

ServerRecord waitingServer(const QString& name)
{
    ServerRecord record;
    record.name = name;
    return record;
}

} // namespace

int ServerListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_records.size());
}

int ServerListModel::columnCount(const QModelIndex& parent) const
{
    // No rows at all, the heading row included: a view (and a screen reader reading it) shows no
    // headings over an empty list.
    return parent.isValid() || m_records.isEmpty() ? 0 : ColumnCount;
}

QVariant ServerListModel::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const ServerRecord& r = m_records.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
        return ServerCellText(r, static_cast<ServerColumn>(index.column()));
    case Qt::TextAlignmentRole:
        return int(Qt::AlignCenter);
    case Qt::ForegroundRole:
        return r.unhealthy() ? QVariant(QBrush(Qt::red)) : QVariant();
    case Qt::DecorationRole:
        if (r.nts.authenticated && index.column() == int(ServerColumn::Name))
            return lockMark();
        return {};
    case Qt::ToolTipRole: {
        // A red row says why; a healthy NTS row names the certificate behind its answer; a row with
        // several samples says what the clock filter made of them; a name says which of its
        // addresses answered.
        QStringList parts;
        if (r.unhealthy())
            parts << ServerProblemText(r);
        else if (const QString text = NtsToolTipText(r.nts); !text.isEmpty())
            parts << text;
        if (const QString text = FilteredOffsetText(r); !text.isEmpty())
            parts << text;
        if (const QString text = AnsweredFromText(r); !text.isEmpty())
            parts << text;
        return parts.isEmpty() ? QVariant() : QVariant(parts.join(QLatin1Char('\n')));
    }
    case Qt::AccessibleDescriptionRole:
        return r.unhealthy() ? QVariant(ServerProblemText(r)) : QVariant();
    default:
        return {};
    }
}

QVariant ServerListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= ColumnCount)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (role) {
    case Qt::DisplayRole:
        return ServerColumnHeading(static_cast<ServerColumn>(section));
    case Qt::TextAlignmentRole:
        return int(Qt::AlignCenter);
    default:
        return {};
    }
}

QStringList ServerListModel::names() const
{
    QStringList names;
    names.reserve(m_records.size());
    for (const ServerRecord& r : m_records)
        names.append(r.name);
    return names;
}

int ServerListModel::addServer(const QString& name)
{
    addServers({name});
    return static_cast<int>(m_records.size()) - 1;
}

void ServerListModel::addServers(const QStringList& names)
{
    if (names.isEmpty())
        return;
    const int first = static_cast<int>(m_records.size());
    // The columns come with the first rows: the table changes shape, not just length.
    const bool wasEmpty = first == 0;
    if (wasEmpty)
        beginResetModel();
    else
        beginInsertRows({}, first, first + static_cast<int>(names.size()) - 1);
    m_records.reserve(m_records.size() + names.size());
    for (const QString& name : names)
        m_records.append(waitingServer(name));
    if (wasEmpty)
        endResetModel();
    else
        endInsertRows();
}

void ServerListModel::removeServer(int row)
{
    if (!isRow(row))
        return;
    // The last row takes the columns with it.
    if (m_records.size() == 1) {
        clear();
        return;
    }
    beginRemoveRows({}, row, row);
    m_records.removeAt(row);
    endRemoveRows();
}

void ServerListModel::clear()
{
    if (m_records.isEmpty())
        return;
    beginResetModel();
    m_records.clear();
    endResetModel();
}

void ServerListModel::setPolling(int row)
{
    if (!isRow(row) || m_records[row].state == ServerState::Polling)
        return;
    m_records[row].state = ServerState::Polling;
    rowChanged(row, ServerColumn::Status, ServerColumn::Status);
}

void ServerListModel::setAnswered(int row, const ServerReading& reading, const QString& from)
{
    if (!isRow(row))
        return;
    ServerRecord& r = m_records[row];
    r.state = ServerState::Answered;
    r.reading = reading;
    r.answeredFrom = from;
    r.everAnswered = true;
    r.problems = reading.problems;
    rowChanged(row, ServerColumn::Name, ServerColumn::Offset);
}

void ServerListModel::setTimedOut(int row, ServerProblems why)
{
    if (!isRow(row))
        return;
    ServerRecord& r = m_records[row];
    const bool colourChanges = !r.unhealthy();
    r.state = ServerState::TimedOut;
    r.problems = why | ServerProblem::TimedOut;
    // The reply's columns keep the last answer; only the status and the colour change.
    if (colourChanges)
        rowChanged(row, ServerColumn::Name, ServerColumn::Offset);
    else
        rowChanged(row, ServerColumn::Status, ServerColumn::Status);
}

void ServerListModel::markAgreementProblem(int row, ServerProblems problems, int agreeing, int counted,
                                           double rootDistanceSeconds)
{
    if (!isRow(row))
        return;
    ServerRecord& r = m_records[row];
    r.problems |= problems;
    r.agreeing = agreeing;
    r.counted = counted;
    r.rootDistanceSeconds = rootDistanceSeconds;
    rowChanged(row, ServerColumn::Name, ServerColumn::Offset);
}

void ServerListModel::setNtsStatus(int row, const NtsStatus& status)
{
    if (!isRow(row))
        return;
    m_records[row].nts = status;
    rowChanged(row, ServerColumn::Name, ServerColumn::Offset);
}

void ServerListModel::setFiltered(int row, int samples, double offsetSeconds, double jitterSeconds)
{
    if (!isRow(row))
        return;
    ServerRecord& r = m_records[row];
    r.filteredSamples = samples;
    r.filteredOffsetSeconds = offsetSeconds;
    r.jitterSeconds = jitterSeconds;
    rowChanged(row, ServerColumn::Name, ServerColumn::Offset);
}

void ServerListModel::rowChanged(int row, ServerColumn first, ServerColumn last)
{
    emit dataChanged(index(row, static_cast<int>(first)), index(row, static_cast<int>(last)));
}

} // namespace ostrelle

#pragma once

#include "servers/serverformat.h"
#include "servers/serverrecord.h"

#include <QAbstractTableModel>
#include <QList>

namespace ostrelle {

// The monitored servers, one row each from 0 in the order added, and the only server list. An
// empty list has no columns either, so that no heading shows over it; the first server brings
// them and the last takes them, each through a reset.
// Red text marks an unhealthy row, and its tooltip and accessible description say why; every
// cell is centred.
class ServerListModel final : public QAbstractTableModel
{
    Q_OBJECT
public:
    using QAbstractTableModel::QAbstractTableModel;

    static constexpr int Columns = static_cast<int>(ServerColumn::Count);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    const QList<ServerRecord>& records() const { return m_records; }
    // The record of a row; rows outside the list must not be asked for.
    const ServerRecord& record(int row) const { return m_records.at(row); }
    bool isRow(int row) const { return row >= 0 && row < m_records.size(); }
    QStringList names() const;

    // Appends a server waiting for its first poll, its name verbatim; returns its row.
    int addServer(const QString& name);
    // Appends many at once (loading a stored list of thousands).
    void addServers(const QStringList& names);
    void removeServer(int row);
    void clear();

    // The poll cycle's changes to a row; rows outside the list are ignored.
    void setPolling(int row);
    // from: the address a name was asked at; empty for an address literal.
    void setAnswered(int row, const ServerReading& reading, const QString& from = {});
    void setTimedOut(int row, ServerProblems why);
    // The pass's agreement found this answered row a falseticker (Disagrees, with how many agreed
    // out of how many) or too distant (TooDistant, with its root distance).
    void markAgreementProblem(int row, ServerProblems problems, int agreeing, int counted,
                              double rootDistanceSeconds);
    // Before setAnswered() or setTimedOut() of an nts:// row's step.
    void setNtsStatus(int row, const NtsStatus& status);
    // What the clock filter made of the server's recent samples (0 samples: nothing to show).
    void setFiltered(int row, int samples, double offsetSeconds, double jitterSeconds);

private:
    void rowChanged(int row, ServerColumn first, ServerColumn last);

    QList<ServerRecord> m_records;
};

} // namespace ostrelle

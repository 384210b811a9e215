#include "store.h"

// Placeholder until the SQLite implementation lands.
QString databasePath() { return {}; }
RecordingStore::RecordingStore(const QString &connectionName) : m_connectionName(connectionName) {}
RecordingStore::~RecordingStore() = default;
bool RecordingStore::open(const QString &) { return false; }
void RecordingStore::close() {}
bool RecordingStore::isOpen() const { return m_open; }
std::optional<SlVoid> RecordingStore::readCounters() const { return std::nullopt; }
QSqlDatabase RecordingStore::database() const { return QSqlDatabase::database(m_connectionName, false); }

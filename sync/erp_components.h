// The database components the service module owns for the life of the process: the
// connection, its transactions and the six queries, each named as the ERP's
// integrators know them.
#pragma once

#include <chrono>

#include "erp/connection.h"
#include "erp/query.h"
#include "erp/settings_row.h"
#include "erp/transaction.h"
#include "sync/monitoring_marker.h"
#include "sync/pending_holders.h"

namespace zendrel {

struct ErpComponentSettings {
  ReconnectPolicy reconnect;
  // How long a read of pending movements waits for an ERP transaction that holds
  // them before this cycle gives up on the campaign.
  std::chrono::seconds pending_lock_timeout{60};
  // How long one settings write waits for an ERP transaction that holds the row, and
  // how often it is tried again when the ERP held or changed the row meanwhile.
  std::chrono::seconds settings_lock_timeout{60};
  SettingsWritePolicy settings_write;
  // Before reading pending movements, wait for the other transactions that may still
  // hold uncommitted ones (the only wait on servers that read committed rows without
  // waiting). Off only in tests that show what the plain read loses.
  bool settle_pending_holders = true;
};

struct ErpComponents {
  explicit ErpComponents(const ErpComponentSettings& settings = {});

  const bool settle_pending_holders;

  Connection Connquimero;
  Transaction TransReadOnly;   // read-only, read committed, starts and ends by itself
  Transaction TransReadWrite;  // settings-row writes, each committed at once
  Transaction TRComandos;      // product refresh and rebuild; started and ended explicitly
  // The pending-movement reads: read committed without record versions, so a movement
  // an ERP till has inserted but not yet committed is waited for instead of skipped.
  Transaction TransPendentes;

  SettingsRow TBPadrao;
  Query TBVerificaMovimentacao;
  Query TBMovimentoPontos;
  Query TBUltimoMovimento;
  Query TBComandos;
  Query TBMovTopVendas;

  // What the server answers about its reads, asked once per attachment, and the
  // second attachment whose snapshot marks the start of a wait for the ERP's tills.
  PendingServerFacts pending_facts;
  MonitoringMarker pending_marker;
};

}  // namespace zendrel

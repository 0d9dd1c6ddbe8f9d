/* A test-only fbclient.dll for Wine: each Windows entry point the relay loads calls
 * the same function of the host's own Firebird client, libfbclient.so.2. It lets the
 * Windows build talk to a real Firebird server under Wine; it is never shipped.
 *
 * ibase.h is not included: under winelib it would declare the client's functions
 * with the Windows calling convention, while the host library uses the System V one.
 * The types below are the client's own: handles are 32 bits and ISC_STATUS is
 * pointer-sized on both hosts, and XSQLDA and the transaction block have the same
 * layout, so pointers to them pass through unchanged. */
#include <signal.h>
#include <stdint.h>

#include <windef.h>

typedef intptr_t ISC_STATUS;
typedef unsigned int FB_API_HANDLE;
typedef int ISC_LONG;

#define HOST __attribute__((sysv_abi))

HOST ISC_STATUS isc_attach_database(ISC_STATUS*, short, const char*, FB_API_HANDLE*, short, const char*);
HOST ISC_STATUS isc_detach_database(ISC_STATUS*, FB_API_HANDLE*);
HOST ISC_STATUS isc_drop_database(ISC_STATUS*, FB_API_HANDLE*);
HOST ISC_STATUS isc_start_multiple(ISC_STATUS*, FB_API_HANDLE*, short, void*);
HOST ISC_STATUS isc_commit_transaction(ISC_STATUS*, FB_API_HANDLE*);
HOST ISC_STATUS isc_rollback_transaction(ISC_STATUS*, FB_API_HANDLE*);
HOST ISC_STATUS fb_disconnect_transaction(ISC_STATUS*, FB_API_HANDLE*);
HOST ISC_STATUS isc_dsql_allocate_statement(ISC_STATUS*, FB_API_HANDLE*, FB_API_HANDLE*);
HOST ISC_STATUS isc_dsql_free_statement(ISC_STATUS*, FB_API_HANDLE*, unsigned short);
HOST ISC_STATUS isc_dsql_prepare(ISC_STATUS*, FB_API_HANDLE*, FB_API_HANDLE*, unsigned short, const char*,
                                 unsigned short, void*);
HOST ISC_STATUS isc_dsql_describe(ISC_STATUS*, FB_API_HANDLE*, unsigned short, void*);
HOST ISC_STATUS isc_dsql_describe_bind(ISC_STATUS*, FB_API_HANDLE*, unsigned short, void*);
HOST ISC_STATUS isc_dsql_execute(ISC_STATUS*, FB_API_HANDLE*, FB_API_HANDLE*, unsigned short, const void*);
HOST ISC_STATUS isc_dsql_execute_immediate(ISC_STATUS*, FB_API_HANDLE*, FB_API_HANDLE*, unsigned short, const char*,
                                           unsigned short, const void*);
HOST ISC_STATUS isc_dsql_fetch(ISC_STATUS*, FB_API_HANDLE*, unsigned short, const void*);
HOST ISC_STATUS isc_dsql_sql_info(ISC_STATUS*, FB_API_HANDLE*, short, const char*, short, char*);
HOST ISC_STATUS fb_cancel_operation(ISC_STATUS*, FB_API_HANDLE*, unsigned short);
HOST ISC_LONG fb_interpret(char*, unsigned int, const ISC_STATUS**);
HOST ISC_LONG isc_vax_integer(const char*, short);
HOST void isc_get_client_version(char*);

/* The host client installs SIGINT and SIGTERM handlers of its own at its first
 * attachment; they shut the client down under the program that uses it, and under Wine
 * they would take the place of Wine's own SIGINT handler, which turns Ctrl+C into the
 * console event a Windows program handles. A Windows client has no such handlers, so
 * the dispositions from before the call are put back after it. */
ISC_STATUS WINAPI relay_isc_attach_database(ISC_STATUS* status, short name_length, const char* name,
                                            FB_API_HANDLE* database, short dpb_length, const char* dpb) {
  struct sigaction interrupt, termination;
  sigaction(SIGINT, NULL, &interrupt);
  sigaction(SIGTERM, NULL, &termination);
  const ISC_STATUS result = isc_attach_database(status, name_length, name, database, dpb_length, dpb);
  sigaction(SIGINT, &interrupt, NULL);
  sigaction(SIGTERM, &termination, NULL);
  return result;
}

ISC_STATUS WINAPI relay_isc_detach_database(ISC_STATUS* status, FB_API_HANDLE* database) {
  return isc_detach_database(status, database);
}

ISC_STATUS WINAPI relay_isc_drop_database(ISC_STATUS* status, FB_API_HANDLE* database) {
  return isc_drop_database(status, database);
}

ISC_STATUS WINAPI relay_isc_start_multiple(ISC_STATUS* status, FB_API_HANDLE* transaction, short count,
                                           void* blocks) {
  return isc_start_multiple(status, transaction, count, blocks);
}

ISC_STATUS WINAPI relay_isc_commit_transaction(ISC_STATUS* status, FB_API_HANDLE* transaction) {
  return isc_commit_transaction(status, transaction);
}

ISC_STATUS WINAPI relay_isc_rollback_transaction(ISC_STATUS* status, FB_API_HANDLE* transaction) {
  return isc_rollback_transaction(status, transaction);
}

ISC_STATUS WINAPI relay_fb_disconnect_transaction(ISC_STATUS* status, FB_API_HANDLE* transaction) {
  return fb_disconnect_transaction(status, transaction);
}

ISC_STATUS WINAPI relay_isc_dsql_allocate_statement(ISC_STATUS* status, FB_API_HANDLE* database,
                                                    FB_API_HANDLE* statement) {
  return isc_dsql_allocate_statement(status, database, statement);
}

ISC_STATUS WINAPI relay_isc_dsql_free_statement(ISC_STATUS* status, FB_API_HANDLE* statement,
                                                unsigned short option) {
  return isc_dsql_free_statement(status, statement, option);
}

ISC_STATUS WINAPI relay_isc_dsql_prepare(ISC_STATUS* status, FB_API_HANDLE* transaction, FB_API_HANDLE* statement,
                                         unsigned short length, const char* sql, unsigned short dialect,
                                         void* xsqlda) {
  return isc_dsql_prepare(status, transaction, statement, length, sql, dialect, xsqlda);
}

ISC_STATUS WINAPI relay_isc_dsql_describe(ISC_STATUS* status, FB_API_HANDLE* statement, unsigned short version,
                                          void* xsqlda) {
  return isc_dsql_describe(status, statement, version, xsqlda);
}

ISC_STATUS WINAPI relay_isc_dsql_describe_bind(ISC_STATUS* status, FB_API_HANDLE* statement,
                                               unsigned short version, void* xsqlda) {
  return isc_dsql_describe_bind(status, statement, version, xsqlda);
}

ISC_STATUS WINAPI relay_isc_dsql_execute(ISC_STATUS* status, FB_API_HANDLE* transaction, FB_API_HANDLE* statement,
                                         unsigned short version, const void* xsqlda) {
  return isc_dsql_execute(status, transaction, statement, version, xsqlda);
}

ISC_STATUS WINAPI relay_isc_dsql_execute_immediate(ISC_STATUS* status, FB_API_HANDLE* database,
                                                   FB_API_HANDLE* transaction, unsigned short length,
                                                   const char* sql, unsigned short dialect, const void* xsqlda) {
  return isc_dsql_execute_immediate(status, database, transaction, length, sql, dialect, xsqlda);
}

ISC_STATUS WINAPI relay_isc_dsql_fetch(ISC_STATUS* status, FB_API_HANDLE* statement, unsigned short version,
                                       const void* xsqlda) {
  return isc_dsql_fetch(status, statement, version, xsqlda);
}

ISC_STATUS WINAPI relay_isc_dsql_sql_info(ISC_STATUS* status, FB_API_HANDLE* statement, short items_length,
                                          const char* items, short buffer_length, char* buffer) {
  return isc_dsql_sql_info(status, statement, items_length, items, buffer_length, buffer);
}

ISC_STATUS WINAPI relay_fb_cancel_operation(ISC_STATUS* status, FB_API_HANDLE* attachment, unsigned short option) {
  return fb_cancel_operation(status, attachment, option);
}

ISC_LONG WINAPI relay_fb_interpret(char* buffer, unsigned int buffer_length, const ISC_STATUS** status) {
  return fb_interpret(buffer, buffer_length, status);
}

ISC_LONG WINAPI relay_isc_vax_integer(const char* bytes, short length) { return isc_vax_integer(bytes, length); }

void WINAPI relay_isc_get_client_version(char* buffer) { isc_get_client_version(buffer); }

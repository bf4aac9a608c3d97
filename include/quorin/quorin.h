#ifndef QUORIN_QUORIN_H
#define QUORIN_QUORIN_H

/*
 * The C interface of QuorinNative, for hosts that bind through a foreign-function interface.
 * It mirrors the facade QRNQuorinClient: one function per method, named after it.
 *
 * Strings. Every string in or out is UTF-8 and ends at its first NUL. A string argument that
 * is NULL or not UTF-8 makes the call do nothing and answer NULL or false. Every `char*` the
 * library returns belongs to the caller, who releases it with qrn_string_free(); NULL stands
 * for nil, and also for a failed allocation.
 *
 * Handles. A NULL qrn_client is accepted everywhere: calls on it do nothing and answer NULL,
 * false or nothing. No call reports failure any other way, and none lets an exception out.
 *
 * Threads. Calls run synchronously on the calling thread. Lifecycle callbacks and cloud values
 * that arrive later run on the main thread: the thread that runs the main loop through
 * qrn_main_loop_run() or qrn_main_loop_drain(). A host with its own event loop calls
 * qrn_main_loop_drain() from it often (a 30-second cloud wait ends on the first drain after
 * it expires); a host without one calls qrn_main_loop_run(). A cloud value that is already
 * there reaches the callback before qrn_client_fetch_value_from_cloud_store_for_key() returns,
 * on the caller's thread. Set callbacks before the events they are for, not while the main
 * loop delivers them. Once qrn_client_dispose() or qrn_client_free() returns, the client's
 * callbacks are not called again and their contexts may be released.
 */

#include <stdbool.h>
#include <stddef.h>

#include "quorin/export.h"
#include "quorin/version.h"

#ifdef __cplusplus
extern "C" {
#endif

/* A facade: owns one client, as QRNQuorinClient does. */
typedef struct qrn_client qrn_client;
/* A strong reference to a facade's client, for handing one client to another facade. */
typedef struct qrn_swift_client qrn_swift_client;

/* Receives the key of a cloud read and its value, or NULL when none was found. Both strings
 * belong to the library and last only for the call. */
typedef void (*qrn_cloud_value_callback)(void* context, const char* key, const char* value);
typedef void (*qrn_lifecycle_callback)(void* context);

/* Releases a string the library returned; NULL is ignored. */
QRN_EXPORT void qrn_string_free(char* string);

/* ---- Facade: set-up and teardown ---- */

/* Makes a facade on the process's default device and sets up its client. NULL only when
 * memory runs out. */
QRN_EXPORT qrn_client* qrn_client_create(void);
/* Releases the facade without disposing its client: waiting cloud reads are dropped unanswered
 * and no callback runs afterwards, unless a qrn_swift_client still holds the client. */
QRN_EXPORT void qrn_client_free(qrn_client* client);
/* Stops the client's events: clears every callback and removes its observers. */
QRN_EXPORT void qrn_client_dispose(qrn_client* client);

/* ---- Callbacks: a NULL function clears the slot; `context` is passed back untouched ---- */

QRN_EXPORT void qrn_client_set_on_cloud_store_value_fetched(qrn_client* client,
                                                            qrn_cloud_value_callback callback,
                                                            void* context);
QRN_EXPORT void qrn_client_set_on_application_enter_foreground(qrn_client* client,
                                                               qrn_lifecycle_callback callback,
                                                               void* context);
QRN_EXPORT void qrn_client_set_on_application_enter_background(qrn_client* client,
                                                               qrn_lifecycle_callback callback,
                                                               void* context);
QRN_EXPORT void qrn_client_set_on_application_did_become_active(qrn_client* client,
                                                                qrn_lifecycle_callback callback,
                                                                void* context);
QRN_EXPORT void qrn_client_set_on_application_will_resign_active(qrn_client* client,
                                                                 qrn_lifecycle_callback callback,
                                                                 void* context);

/* The callback in the slot and, through `context` when it is not NULL, its context. NULL when
 * the slot is empty or holds a callback that was not set through this interface. */
QRN_EXPORT qrn_cloud_value_callback
qrn_client_on_cloud_store_value_fetched(const qrn_client* client, void** context);
QRN_EXPORT qrn_lifecycle_callback
qrn_client_on_application_enter_foreground(const qrn_client* client, void** context);
QRN_EXPORT qrn_lifecycle_callback
qrn_client_on_application_enter_background(const qrn_client* client, void** context);
QRN_EXPORT qrn_lifecycle_callback
qrn_client_on_application_did_become_active(const qrn_client* client, void** context);
QRN_EXPORT qrn_lifecycle_callback
qrn_client_on_application_will_resign_active(const qrn_client* client, void** context);

/* ---- Device and environment facts, read on each call ---- */

QRN_EXPORT char* qrn_client_device_model(const qrn_client* client);
QRN_EXPORT char* qrn_client_os_version(const qrn_client* client);
QRN_EXPORT char* qrn_client_build_number(const qrn_client* client);
QRN_EXPORT bool qrn_client_is_tablet(const qrn_client* client);
/* Has no effect: whether the device is a tablet is a fact of the device. */
QRN_EXPORT void qrn_client_set_is_tablet(qrn_client* client, bool is_tablet);
QRN_EXPORT char* qrn_client_language_with_region(const qrn_client* client);
QRN_EXPORT char* qrn_client_idfa(const qrn_client* client);
QRN_EXPORT char* qrn_client_idfv(const qrn_client* client);
QRN_EXPORT char* qrn_client_encoded_device_identifier(const qrn_client* client);
QRN_EXPORT char* qrn_client_store_country(const qrn_client* client);
QRN_EXPORT bool qrn_client_is_application_installed_for_scheme(const qrn_client* client,
                                                               const char* scheme);

/* ---- The legacy SDK's data ---- */

/* Gathers it into JSON files and answers the path of their directory, or NULL. */
QRN_EXPORT char* qrn_client_collect_migration_data(qrn_client* client);
/* After a collection: erases the legacy data and the collected files. */
QRN_EXPORT void qrn_client_clear_data_after_migration(qrn_client* client);

/* ---- Keychain: work also after qrn_client_dispose() ---- */

QRN_EXPORT char* qrn_client_get_string_value_in_keychain_for_key(qrn_client* client,
                                                                 const char* key);
QRN_EXPORT void qrn_client_set_string_value_in_keychain(qrn_client* client, const char* value,
                                                        const char* key);
QRN_EXPORT void qrn_client_remove_value_in_keychain_for_key(qrn_client* client, const char* key);
/* Erases this SDK's keychain items and those of the SDK before it. */
QRN_EXPORT void qrn_client_clear_keychains(qrn_client* client);

/* ---- Cloud key-value store: do nothing after qrn_client_dispose() ---- */

/* Answers through the cloud callback: at once when the value is there, otherwise on the main
 * thread when another device brings it, or with NULL after 30 seconds. */
QRN_EXPORT void qrn_client_fetch_value_from_cloud_store_for_key(qrn_client* client,
                                                                const char* key);
QRN_EXPORT void qrn_client_set_value_to_cloud_store(qrn_client* client, const char* value,
                                                    const char* key);
QRN_EXPORT void qrn_client_remove_value_from_cloud_store_for_key(qrn_client* client,
                                                                 const char* key);

/* ---- The facade's client ---- */

/* A new reference to the facade's client, or NULL when it has none; release it with
 * qrn_swift_client_free(). */
QRN_EXPORT qrn_swift_client* qrn_client_swift_client(const qrn_client* client);
/* Makes `swift_client`'s client the facade's; NULL leaves the facade without one, which makes
 * every call on it do nothing: the model, OS version, build number and language answer "",
 * everything else NULL or false. */
QRN_EXPORT void qrn_client_set_swift_client(qrn_client* client,
                                            const qrn_swift_client* swift_client);
QRN_EXPORT void qrn_swift_client_free(qrn_swift_client* swift_client);

/* ---- The device on this machine and its main loop ---- */

/* Makes `container` the default device for facades created afterwards, syncing its cloud
 * store through `cloud_account` (a directory, or a "redis://" or "unix://" URL with
 * "?account=NAME"), or the user's default account when that is NULL. Facades made earlier
 * keep their device. Answers false, changing nothing, for a NULL or non-UTF-8
 * container or account. */
QRN_EXPORT bool qrn_use_container(const char* container, const char* cloud_account);

/* For hosts with a key store of their own: the 32-byte key that seals the keychain of devices
 * chosen afterwards, instead of a key the library keeps in the Secret Service or a key file.
 * Answers false, changing nothing, for a NULL key or a length other than 32. */
QRN_EXPORT bool qrn_use_keychain_key(const unsigned char* key, size_t length);

typedef enum qrn_application_event {
  QRN_APPLICATION_WILL_ENTER_FOREGROUND,
  QRN_APPLICATION_DID_ENTER_BACKGROUND,
  QRN_APPLICATION_DID_BECOME_ACTIVE,
  QRN_APPLICATION_WILL_RESIGN_ACTIVE,
} qrn_application_event;

/* Tells the default device that the application changed state, as the system would: the
 * notification is posted on the main loop, so lifecycle callbacks run at its next turn.
 * Answers false for an unknown event. */
QRN_EXPORT bool qrn_post_application_event(qrn_application_event event);

/* Runs the default device's main loop for up to `seconds`, or until qrn_main_loop_stop()
 * when `seconds` is negative. Answers true when it returned because of qrn_main_loop_stop(). */
QRN_EXPORT bool qrn_main_loop_run(double seconds);
/* Runs the main loop's ready tasks and due timers without waiting; answers how many ran. */
QRN_EXPORT size_t qrn_main_loop_drain(void);
/* Makes qrn_main_loop_run() return; safe from any thread and from callbacks. */
QRN_EXPORT void qrn_main_loop_stop(void);

#ifdef __cplusplus
}
#endif

#endif

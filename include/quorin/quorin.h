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
 * false or nothing. Calls report failure only through what they answer (NULL, false or a
 * status), and none lets an exception out.
 *
 * Threads. Calls run synchronously on the calling thread. Each function says where it may be
 * called from:
 *   any thread     at any time, from several threads at once;
 *   client calls   on one client one call at a time (from any thread); calls on different
 *                  clients may run at once;
 *   main thread    as a client call, and only on the main thread (inside a callback, or
 *                  between runs of the main loop) or while no thread runs the main loop:
 *                  the main loop reads the client's callbacks while it delivers them.
 * The main thread is whichever thread runs the process's main loop through qrn_main_loop_run()
 * or qrn_main_loop_drain(), one thread at a time. Lifecycle callbacks and cloud values that
 * arrive later run there, inside those calls. A cloud value that is already there reaches the
 * callback before qrn_client_fetch_value_from_cloud_store_for_key() returns, on the caller's
 * thread. Once qrn_client_dispose() returns, or qrn_client_free() while no qrn_swift_client
 * still holds the client, the client's callbacks are not called again and their contexts
 * may be released. A callback may replace or clear itself, dispose or free its own client,
 * and stop or drain the main loop.
 *
 * The main loop. Every device of the process shares one main loop, as the parts of an
 * application share one main thread, so the calls below drive the devices of every facade
 * alive. A host without an event loop of its own calls qrn_main_loop_run(); a host with one
 * watches qrn_main_loop_fd() and calls qrn_main_loop_drain() when it polls readable or when
 * qrn_main_loop_timeout_ms() has passed.
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

/* Why the cloud store's values changed, as the platform numbers its reasons. */
typedef enum qrn_cloud_change_reason {
  QRN_CLOUD_SERVER_CHANGE = 0,           /* another device wrote */
  QRN_CLOUD_INITIAL_SYNC_CHANGE = 1,     /* the device's first exchange found values */
  QRN_CLOUD_QUOTA_VIOLATION_CHANGE = 2,  /* the account refused this device's writes of the keys */
  QRN_CLOUD_ACCOUNT_CHANGE = 3,          /* the device moved to another account */
} qrn_cloud_change_reason;

/* Receives an external change of the cloud store: its reason and the `key_count` (at least
 * one) keys it names. The array and its strings belong to the library and last only for the
 * call. */
typedef void (*qrn_cloud_change_callback)(void* context, qrn_cloud_change_reason reason,
                                          const char* const* keys, size_t key_count);

/* Releases a string the library returned; NULL is ignored. Any thread. */
QRN_EXPORT void qrn_string_free(char* string);

/* ---- Facade: set-up and teardown ---- */

/* Makes a facade on the process's default device and sets up its client. NULL only when
 * memory runs out. Any thread. */
QRN_EXPORT qrn_client* qrn_client_create(void);
/* Releases the facade without disposing its client: waiting cloud reads are dropped unanswered
 * and no callback runs afterwards, unless a qrn_swift_client still holds the client. Main
 * thread. */
QRN_EXPORT void qrn_client_free(qrn_client* client);
/* Stops the client's events: clears every callback and removes its observers. Main thread. */
QRN_EXPORT void qrn_client_dispose(qrn_client* client);

/* ---- Callbacks: a NULL function clears the slot; `context` is passed back untouched.
 * Setting and reading them: main thread. ---- */

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
/* Called on the main thread for each external change of the client's cloud store, quota
 * refusals of its own writes included, after the cloud reads the change answers. Keys that
 * are not UTF-8 or hold a NUL are left out, and a change left with none is not reported.
 * Cleared by qrn_client_dispose(). */
QRN_EXPORT void qrn_client_set_on_cloud_store_change(qrn_client* client,
                                                     qrn_cloud_change_callback callback,
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
QRN_EXPORT qrn_cloud_change_callback qrn_client_on_cloud_store_change(const qrn_client* client,
                                                                      void** context);

/* ---- Device and environment facts, read on each call: client calls ---- */

QRN_EXPORT char* qrn_client_device_model(const qrn_client* client);
QRN_EXPORT char* qrn_client_os_version(const qrn_client* client);
/* The Info.plist's "CFBundleVersion"; "" when the device names no Info.plist. */
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

/* ---- The legacy SDK's data: client calls, and one at a time on each device, since both
 * write the same files ---- */

/* Gathers it into JSON files and answers the path of their directory, or NULL. */
QRN_EXPORT char* qrn_client_collect_migration_data(qrn_client* client);
/* After a collection: erases the legacy data and the collected files. */
QRN_EXPORT void qrn_client_clear_data_after_migration(qrn_client* client);

/* ---- Keychain: client calls; they work also after qrn_client_dispose() ---- */

QRN_EXPORT char* qrn_client_get_string_value_in_keychain_for_key(qrn_client* client,
                                                                 const char* key);
QRN_EXPORT void qrn_client_set_string_value_in_keychain(qrn_client* client, const char* value,
                                                        const char* key);
QRN_EXPORT void qrn_client_remove_value_in_keychain_for_key(qrn_client* client, const char* key);
/* Erases this SDK's keychain items and those of the SDK before it. */
QRN_EXPORT void qrn_client_clear_keychains(qrn_client* client);

/* ---- Cloud key-value store: client calls; they do nothing after qrn_client_dispose() ---- */

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
 * qrn_swift_client_free(). A client call. */
QRN_EXPORT qrn_swift_client* qrn_client_swift_client(const qrn_client* client);
/* Makes `swift_client`'s client the facade's; NULL leaves the facade without one, which makes
 * every call on it do nothing: the model, OS version, build number and language answer "",
 * everything else NULL or false. A client call, on both facades' clients. */
QRN_EXPORT void qrn_client_set_swift_client(qrn_client* client,
                                            const qrn_swift_client* swift_client);
/* Any thread; the client's callbacks may still run until its facades are freed too. */
QRN_EXPORT void qrn_swift_client_free(qrn_swift_client* swift_client);

/* ---- The device on this machine ---- */

/* A device, named with what the quorin host's global options say. Set `size` with
 * QRN_DEVICE_OPTIONS_INIT (or to sizeof(qrn_device_options)) and leave unused fields NULL;
 * fields are only ever added at the end, so a host built against an older header, passing a
 * smaller size, keeps working. */
typedef struct qrn_device_options {
  size_t size;
  /* The device's container directory: an absolute path, made on first use only where its
   * parent directory exists; a trailing slash names the same directory. Required. */
  const char* container;
  /* The cloud account its store syncs through: a directory (an absolute path, made on first
   * use where its parent directory exists), or a "redis://", "rediss://" or "unix://" URL with
   * "?account=NAME" (a "rediss://" URL's ca=, cert= and key= files are absolute paths); NULL
   * for the user's default account. */
  const char* cloud_account;
  /* The application's Info.plist, an absolute path, read once: the build number and the
   * defaults suite's name. */
  const char* info_plist;
  /* Where the keychain's sealing key is kept: "secret-service" or "key-file". With neither
   * this nor keychain_key, the key qrn_use_keychain_key() gave, else the Secret Service when
   * reachable, else the key file. */
  const char* key_store;
  /* The host's own key, from a key store of its own, and its length (32); not together with
   * key_store. */
  const unsigned char* keychain_key;
  size_t keychain_key_length;
} qrn_device_options;

#define QRN_DEVICE_OPTIONS_INIT \
  { sizeof(qrn_device_options), NULL, NULL, NULL, NULL, NULL, 0 }

typedef enum qrn_device_status {
  QRN_DEVICE_OK = 0,
  /* NULL options; a size smaller than `size` and `container`, or one that ends inside a
   * field; a size larger than this library knows whose extra bytes are not all zero (a field
   * this library cannot honour); a string that is empty or not UTF-8; a cloud account URL of a
   * scheme other than redis, rediss or unix; a relative path in cloud_account or info_plist,
   * which would be read against whatever the working directory is at first use; an unknown
   * key store; a key store beside a key; a key that is not 32 bytes. */
  QRN_DEVICE_INVALID_OPTIONS = -1,
  /* The container is empty or not an absolute path. */
  QRN_DEVICE_RELATIVE_CONTAINER = -2,
  /* The device could not be set up: memory or file descriptors ran out. */
  QRN_DEVICE_FAILED = -3,
  /* The container cannot be used: its parent directory is missing (a mistyped path never
   * becomes a new device), or it is not a directory this process can read and write. */
  QRN_DEVICE_UNUSABLE_CONTAINER = -4,
  /* The cloud account is a directory whose parent directory is missing (a mistyped path never
   * becomes a new account), or something other than a directory stands in its place. */
  QRN_DEVICE_UNUSABLE_CLOUD_ACCOUNT = -5,
} qrn_device_status;

/* Makes the device the process's default for facades created afterwards; facades made earlier
 * keep theirs. Anything but QRN_DEVICE_OK changes nothing and creates nothing. Any thread. */
QRN_EXPORT qrn_device_status qrn_use_device(const qrn_device_options* options);

/* A device of the host's own, beside the process's default: clients made on it run there,
 * whatever device is the default. */
typedef struct qrn_device qrn_device;

/* Opens the device that `options` names, as qrn_use_device() checks it, without making it
 * the default, and stores it in `*device`. Anything but QRN_DEVICE_OK stores NULL there
 * (when `device` is not NULL) and creates nothing; a NULL `device` is
 * QRN_DEVICE_INVALID_OPTIONS. Any thread. */
QRN_EXPORT qrn_device_status qrn_device_open(const qrn_device_options* options,
                                             qrn_device** device);
/* Makes a facade on the device and sets up its client, as qrn_client_create() does on the
 * default device. NULL for a NULL device, or when memory runs out. Any thread. */
QRN_EXPORT qrn_client* qrn_device_create_client(qrn_device* device);
/* Releases the handle; clients made on the device keep it until they are freed. NULL is
 * ignored. Any thread. */
QRN_EXPORT void qrn_device_free(qrn_device* device);

/* qrn_use_device() with only the container and the cloud account (NULL for the user's
 * default). Answers false, changing nothing, where qrn_use_device() would not answer
 * QRN_DEVICE_OK: among others for a NULL, empty or relative container. Any thread. */
QRN_EXPORT bool qrn_use_container(const char* container, const char* cloud_account);

/* For hosts with a key store of their own: the 32-byte key that seals the keychain of devices
 * chosen afterwards without a key store or key of their own, instead of a key the library
 * keeps in the Secret Service or a key file. Answers false, changing nothing, for a NULL key
 * or a length other than 32. Any thread. */
QRN_EXPORT bool qrn_use_keychain_key(const unsigned char* key, size_t length);

/* Receives one of the library's diagnostic lines, without its newline. The line belongs to
 * the library and lasts only for the call. */
typedef void (*qrn_diagnostic_callback)(void* context, const char* line);

/* Sends the diagnostic lines of every device (those opened earlier included) to `callback`,
 * on whichever thread writes each line, several at once possibly, instead of writing them
 * to standard output; a NULL `callback` restores standard output, the default. Once this
 * returns the previous callback is not called again and its context may be released, so a
 * callback must not call back into the library. Any thread. */
QRN_EXPORT void qrn_set_diagnostic_handler(qrn_diagnostic_callback callback, void* context);

typedef enum qrn_application_event {
  QRN_APPLICATION_WILL_ENTER_FOREGROUND,
  QRN_APPLICATION_DID_ENTER_BACKGROUND,
  QRN_APPLICATION_DID_BECOME_ACTIVE,
  QRN_APPLICATION_WILL_RESIGN_ACTIVE,
} qrn_application_event;

/* Tells every device in use that the application changed state, as the system would: the
 * notification is posted on the main loop, so lifecycle callbacks run at its next turn.
 * Answers false for an unknown event. Any thread. */
QRN_EXPORT bool qrn_post_application_event(qrn_application_event event);

/* ---- The main loop ---- */

/* Runs the main loop for up to `seconds`, or until qrn_main_loop_stop() when `seconds` is
 * negative. Answers true when it returned because of qrn_main_loop_stop(). The calling thread
 * is the main thread while it runs; a callback may run the loop again inside it. */
QRN_EXPORT bool qrn_main_loop_run(double seconds);
/* Runs the main loop's ready tasks and due timers without waiting; answers how many ran. The
 * calling thread is the main thread while it runs. */
QRN_EXPORT size_t qrn_main_loop_drain(void);
/* Makes the innermost qrn_main_loop_run() in progress return. With no run in progress it does
 * nothing: it is not kept for the next run, and it does not end a drain. Any thread, and from
 * callbacks. */
QRN_EXPORT void qrn_main_loop_stop(void);
/* A descriptor, for poll() and the like, that reads as readable while the main loop has a task
 * ready or a timer was armed, until the next drain or run finds nothing ready. Watch it for
 * reading (never read or close it), wait at most qrn_main_loop_timeout_ms(), then call
 * qrn_main_loop_drain(). The same descriptor on every call; -1 when the process is out of
 * descriptors. Any thread. */
QRN_EXPORT int qrn_main_loop_fd(void);
/* Milliseconds until the main loop's next timer is due, rounded up: 0 when a task is ready or a
 * timer is due, -1 when nothing is queued or armed. Ask again after every drain. Any thread. */
QRN_EXPORT int qrn_main_loop_timeout_ms(void);

#ifdef __cplusplus
}
#endif

#endif

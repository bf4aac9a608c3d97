/* What a language binding builds on, from C: devices of the host's own side by side, the
 * cloud store's changes, and the library's diagnostic lines routed to the host. Run with a
 * test's name to run that test alone. */
#define _POSIX_C_SOURCE 200809L

#include <fcntl.h>
#include <pthread.h>
#include <stdatomic.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include "c_test.h"

static qrn_device_status open_device(const char* name, const char* key_store,
                                     qrn_device** device) {
  char container[300];
  snprintf(container, sizeof container, "%s/%s", scratch, name);
  qrn_device_options options = QRN_DEVICE_OPTIONS_INIT;
  options.container = container;
  options.cloud_account = cloud;
  options.key_store = key_store;
  return qrn_device_open(&options, device);
}

static int exists(const char* name) {
  char path[300];
  struct stat info;
  snprintf(path, sizeof path, "%s/%s", scratch, name);
  return stat(path, &info) == 0;
}

/* Each client keeps to the device it was made on, whatever the default is, and outlives the
 * handle of its device. */
static void test_devices_side_by_side(void) {
  char fallback[300];
  snprintf(fallback, sizeof fallback, "%s/default", scratch);
  CHECK(qrn_use_container(fallback, cloud));
  qrn_device *first = NULL, *second = NULL;
  CHECK(open_device("first", "key-file", &first) == QRN_DEVICE_OK);
  CHECK(open_device("second", "key-file", &second) == QRN_DEVICE_OK);
  qrn_client* on_first = qrn_device_create_client(first);
  qrn_client* on_second = qrn_device_create_client(second);
  qrn_client* on_default = qrn_client_create();
  qrn_client_set_string_value_in_keychain(on_first, "one", "token");
  qrn_client_set_string_value_in_keychain(on_second, "two", "token");
  qrn_device_free(first);
  CHECK_STRING(qrn_client_get_string_value_in_keychain_for_key(on_first, "token"), "one");
  CHECK_STRING(qrn_client_get_string_value_in_keychain_for_key(on_second, "token"), "two");
  CHECK_STRING(qrn_client_get_string_value_in_keychain_for_key(on_default, "token"), NULL);
  qrn_client_free(on_first);
  qrn_client_free(on_second);
  qrn_client_free(on_default);
  qrn_device_free(second);

  /* Refused: nothing is made and the handle is NULL. */
  qrn_device* refused = second;
  CHECK(open_device("missing/device", NULL, &refused) == QRN_DEVICE_UNUSABLE_CONTAINER);
  CHECK(refused == NULL && !exists("missing"));
  refused = first;
  qrn_device_options options = QRN_DEVICE_OPTIONS_INIT;
  options.container = "relative";
  CHECK(qrn_device_open(&options, &refused) == QRN_DEVICE_RELATIVE_CONTAINER);
  CHECK(refused == NULL);
  CHECK(qrn_device_open(NULL, &refused) == QRN_DEVICE_INVALID_OPTIONS);
  CHECK(open_device("unseen", NULL, NULL) == QRN_DEVICE_INVALID_OPTIONS);
  CHECK(!exists("unseen"));
  CHECK(qrn_device_create_client(NULL) == NULL);
  qrn_device_free(NULL);
}

typedef struct {
  qrn_cloud_change_reason reason;
  char keys[256];
  const char* awaited;  /* the key whose change stops the main loop */
  int calls;
} change_record;

static void record_change(void* context, qrn_cloud_change_reason reason, const char* const* keys,
                          size_t key_count) {
  change_record* record = context;
  ++record->calls;
  record->reason = reason;
  record->keys[0] = '\0';
  int awaited = 0;
  for (size_t i = 0; i < key_count; ++i) {
    size_t used = strlen(record->keys);
    snprintf(record->keys + used, sizeof record->keys - used, "%s%s", i ? "," : "", keys[i]);
    awaited |= record->awaited && strcmp(keys[i], record->awaited) == 0;
  }
  if (awaited) qrn_main_loop_stop();
}

/* Runs the main loop until the record hears of its awaited key; false after 20 s. */
static int await_change(change_record* record, const char* key) {
  record->awaited = key;
  return qrn_main_loop_run(20);
}

/* Another device's write and a write over the quota both reach the subscription, on the main
 * loop, with their reasons; nothing does after dispose. */
static void test_cloud_changes_reach_the_subscription(void) {
  qrn_device *here = NULL, *there = NULL;
  CHECK(open_device("watching", "key-file", &here) == QRN_DEVICE_OK);
  CHECK(open_device("writing", "key-file", &there) == QRN_DEVICE_OK);
  qrn_client* watching = qrn_device_create_client(here);
  qrn_client* writing = qrn_device_create_client(there);
  change_record heard = {0};
  qrn_client_set_on_cloud_store_change(watching, record_change, &heard);
  void* context = NULL;
  CHECK(qrn_client_on_cloud_store_change(watching, &context) == record_change);
  CHECK(context == &heard);

  qrn_client_set_value_to_cloud_store(writing, "v", "shared");
  CHECK(await_change(&heard, "shared"));
  CHECK(heard.reason == QRN_CLOUD_SERVER_CHANGE || heard.reason == QRN_CLOUD_INITIAL_SYNC_CHANGE);

  size_t size = 1024 * 1024 + 1;
  char* huge = malloc(size + 1);
  memset(huge, 'x', size);
  huge[size] = '\0';
  qrn_client_set_value_to_cloud_store(watching, huge, "huge");
  free(huge);
  CHECK(await_change(&heard, "huge"));
  CHECK(heard.reason == QRN_CLOUD_QUOTA_VIOLATION_CHANGE);
  CHECK(strcmp(heard.keys, "huge") == 0);

  /* Disposed, the client hears nothing: a later change reaches a new client of the same
   * device, and the old subscription stays silent. */
  qrn_client_dispose(watching);
  CHECK(qrn_client_on_cloud_store_change(watching, NULL) == NULL);
  int calls = heard.calls;
  qrn_client* successor = qrn_device_create_client(here);
  change_record later = {0};
  qrn_client_set_on_cloud_store_change(successor, record_change, &later);
  qrn_client_set_value_to_cloud_store(writing, "w", "after");
  CHECK(await_change(&later, "after"));
  CHECK(heard.calls == calls);

  qrn_client_free(successor);
  qrn_client_free(watching);
  qrn_client_free(writing);
  qrn_device_free(here);
  qrn_device_free(there);
}

typedef struct {
  atomic_int lines;
  atomic_int late;      /* lines that arrived after the handler was replaced */
  atomic_int released;  /* set once the handler was replaced */
  char first[128];
} line_record;

static void record_line(void* context, const char* line) {
  line_record* record = context;
  if (atomic_load(&record->released)) atomic_fetch_add(&record->late, 1);
  if (atomic_fetch_add(&record->lines, 1) == 0)
    snprintf(record->first, sizeof record->first, "%s", line);
}

/* A keychain that needs an unreachable Secret Service: every call fails with a line. */
static qrn_client* failing_keychain_client(const char* name, qrn_device** device) {
  CHECK(open_device(name, "secret-service", device) == QRN_DEVICE_OK);
  return qrn_device_create_client(*device);
}

static atomic_int writing_lines;

static void* write_lines(void* context) {
  while (atomic_load(&writing_lines))
    qrn_string_free(qrn_client_get_string_value_in_keychain_for_key(context, "k"));
  return NULL;
}

static size_t standard_output_size(const char* path) {
  fflush(stdout);
  struct stat info;
  return stat(path, &info) == 0 ? (size_t)info.st_size : 0;
}

/* Lines go to the handler instead of standard output, back to standard output once it is
 * cleared, and a replaced handler is never called after the call that replaced it returns,
 * while another thread writes lines all along. */
static void test_diagnostic_lines_reach_the_handler(void) {
  setenv("DBUS_SESSION_BUS_ADDRESS", "", 1);
  char output[300];
  snprintf(output, sizeof output, "%s/stdout", scratch);
  fflush(stdout);
  int saved = dup(STDOUT_FILENO);
  int file = open(output, O_WRONLY | O_CREAT | O_TRUNC, 0600);
  CHECK(saved >= 0 && file >= 0 && dup2(file, STDOUT_FILENO) >= 0);
  close(file);

  qrn_device* device = NULL;
  qrn_client* client = failing_keychain_client("diagnosed", &device);
  static line_record first, second;
  qrn_set_diagnostic_handler(record_line, &first);
  CHECK_STRING(qrn_client_get_string_value_in_keychain_for_key(client, "k"), NULL);
  CHECK(atomic_load(&first.lines) >= 1);
  CHECK(strncmp(first.first, "OSStatus error:[", 16) == 0);
  CHECK(standard_output_size(output) == 0);

  qrn_device* other = NULL;
  qrn_client* busy = failing_keychain_client("busy", &other);
  atomic_store(&writing_lines, 1);
  pthread_t writer;
  CHECK(pthread_create(&writer, NULL, write_lines, busy) == 0);
  while (atomic_load(&first.lines) < 20) sched_yield();
  qrn_set_diagnostic_handler(record_line, &second);
  atomic_store(&first.released, 1);
  while (atomic_load(&second.lines) < 20) sched_yield();
  atomic_store(&writing_lines, 0);
  pthread_join(writer, NULL);
  CHECK(atomic_load(&first.late) == 0);

  qrn_set_diagnostic_handler(NULL, NULL);
  int heard = atomic_load(&second.lines);
  CHECK_STRING(qrn_client_get_string_value_in_keychain_for_key(client, "k"), NULL);
  CHECK(atomic_load(&second.lines) == heard);
  CHECK(standard_output_size(output) > 0);

  fflush(stdout);
  dup2(saved, STDOUT_FILENO);
  close(saved);
  qrn_client_free(busy);
  qrn_client_free(client);
  qrn_device_free(other);
  qrn_device_free(device);
}

static const test_case tests[] = {
    {"devices", test_devices_side_by_side},
    {"cloud_changes", test_cloud_changes_reach_the_subscription},
    {"diagnostics", test_diagnostic_lines_reach_the_handler},
};

int main(int argc, char** argv) {
  return run_tests(argc, argv, tests, sizeof tests / sizeof tests[0]);
}

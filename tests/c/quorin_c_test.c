/* The C interface, compiled as C and linked to the shared library, on real containers. Run
 * with a test's name to run that test alone; "--write CONTAINER ACCOUNT KEY VALUE" makes the
 * program another device that writes one cloud value and exits. */
#define _POSIX_C_SOURCE 200809L

#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "quorin/quorin.h"

extern char** environ;

static int failures;

#define CHECK(condition)                                                            \
  do {                                                                              \
    if (!(condition)) {                                                             \
      fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      ++failures;                                                                   \
    }                                                                               \
  } while (0)

/* Checks a returned string against `expected` (NULL for nil) and frees it. */
#define CHECK_STRING(returned, expected)                                                  \
  do {                                                                                    \
    char* got_ = (returned);                                                              \
    const char* want_ = (expected);                                                       \
    if (want_ ? !got_ || strcmp(got_, want_) != 0 : got_ != NULL) {                       \
      fprintf(stderr, "%s:%d: %s is \"%s\", not \"%s\"\n", __FILE__, __LINE__, #returned, \
              got_ ? got_ : "(nil)", want_ ? want_ : "(nil)");                            \
      ++failures;                                                                         \
    }                                                                                     \
    qrn_string_free(got_);                                                                \
  } while (0)

static const char* self_path;
static char scratch[256];
static char cloud[300];

/* A fresh container under the scratch directory, made the default device. */
static void use_container(const char* name, char* path, size_t size) {
  snprintf(path, size, "%s/%s", scratch, name);
  CHECK(qrn_use_container(path, cloud));
}

static int run(char* const argv[]) {
  pid_t child;
  int status = 0;
  if (posix_spawn(&child, argv[0], NULL, NULL, argv, environ) != 0) return -1;
  if (waitpid(child, &status, 0) < 0) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

/* Another device on the same cloud account writes `value` under `key`. */
static void write_from_other_device(const char* key, const char* value) {
  char container[300];
  snprintf(container, sizeof container, "%s/other-device", scratch);
  char* argv[] = {(char*)self_path, "--write", container, cloud, (char*)key, (char*)value, NULL};
  CHECK(run(argv) == 0);
}

static int write_and_exit(char** argv) {
  if (!qrn_use_container(argv[0], argv[1])) return 2;
  qrn_client* client = qrn_client_create();
  qrn_client_set_value_to_cloud_store(client, argv[3], argv[2]);
  qrn_client_free(client);
  return 0;
}

typedef struct {
  int calls;
  char key[64];
  char value[64];
  int had_value;
  int stops_loop;
} cloud_record;

static void record_cloud_value(void* context, const char* key, const char* value) {
  cloud_record* record = context;
  ++record->calls;
  snprintf(record->key, sizeof record->key, "%s", key);
  record->had_value = value != NULL;
  snprintf(record->value, sizeof record->value, "%s", value ? value : "");
  if (record->stops_loop) qrn_main_loop_stop();
}

static void count_event(void* context) {
  ++*(int*)context;
}

static void test_version_symbols(void) {
  CHECK(QuorinNativeVersionNumber == 1.0);
  CHECK(strcmp((const char*)QuorinNativeVersionString,
               "@(#)PROGRAM:QuorinNative  PROJECT:QuorinNative-1\n") == 0);
}

/* Every call on a NULL handle does nothing and answers nil; NULL frees are ignored. */
static void test_null_handles(void) {
  void* context = &context;
  CHECK(qrn_client_on_cloud_store_value_fetched(NULL, &context) == NULL);
  CHECK(context == NULL);
  CHECK(qrn_client_on_application_enter_foreground(NULL, NULL) == NULL);
  CHECK(qrn_client_on_application_enter_background(NULL, NULL) == NULL);
  CHECK(qrn_client_on_application_did_become_active(NULL, NULL) == NULL);
  CHECK(qrn_client_on_application_will_resign_active(NULL, NULL) == NULL);
  qrn_client_set_on_cloud_store_value_fetched(NULL, record_cloud_value, NULL);
  qrn_client_set_on_application_enter_foreground(NULL, count_event, NULL);
  qrn_client_set_on_application_enter_background(NULL, count_event, NULL);
  qrn_client_set_on_application_did_become_active(NULL, count_event, NULL);
  qrn_client_set_on_application_will_resign_active(NULL, count_event, NULL);
  CHECK_STRING(qrn_client_device_model(NULL), NULL);
  CHECK_STRING(qrn_client_os_version(NULL), NULL);
  CHECK_STRING(qrn_client_build_number(NULL), NULL);
  CHECK(!qrn_client_is_tablet(NULL));
  qrn_client_set_is_tablet(NULL, true);
  CHECK_STRING(qrn_client_language_with_region(NULL), NULL);
  CHECK_STRING(qrn_client_idfa(NULL), NULL);
  CHECK_STRING(qrn_client_idfv(NULL), NULL);
  CHECK_STRING(qrn_client_encoded_device_identifier(NULL), NULL);
  CHECK_STRING(qrn_client_store_country(NULL), NULL);
  CHECK(!qrn_client_is_application_installed_for_scheme(NULL, "https"));
  CHECK_STRING(qrn_client_collect_migration_data(NULL), NULL);
  qrn_client_clear_data_after_migration(NULL);
  CHECK_STRING(qrn_client_get_string_value_in_keychain_for_key(NULL, "k"), NULL);
  qrn_client_set_string_value_in_keychain(NULL, "v", "k");
  qrn_client_remove_value_in_keychain_for_key(NULL, "k");
  qrn_client_clear_keychains(NULL);
  qrn_client_fetch_value_from_cloud_store_for_key(NULL, "k");
  qrn_client_set_value_to_cloud_store(NULL, "v", "k");
  qrn_client_remove_value_from_cloud_store_for_key(NULL, "k");
  CHECK(qrn_client_swift_client(NULL) == NULL);
  qrn_client_set_swift_client(NULL, NULL);
  qrn_client_dispose(NULL);
  qrn_client_free(NULL);
  qrn_swift_client_free(NULL);
  qrn_string_free(NULL);
  CHECK(!qrn_use_container(NULL, NULL));
  CHECK(!qrn_use_container("/tmp/\xff", NULL));
  CHECK(!qrn_post_application_event((qrn_application_event)42));
  unsigned char key[32] = {0};
  CHECK(!qrn_use_keychain_key(NULL, 32));
  CHECK(!qrn_use_keychain_key(key, 31));
}

static void test_device_facts(void) {
  char container[300];
  use_container("facts", container, sizeof container);
  qrn_client* client = qrn_client_create();
  CHECK(client != NULL);
  char* model = qrn_client_device_model(client);
  CHECK(model && model[0]);
  qrn_string_free(model);
  CHECK_STRING(qrn_client_os_version(client), "17.0");
  char* build = qrn_client_build_number(client);
  CHECK(build != NULL);
  qrn_string_free(build);
  CHECK(!qrn_client_is_tablet(client));
  qrn_client_set_is_tablet(client, true);
  CHECK(!qrn_client_is_tablet(client));
  char* language = qrn_client_language_with_region(client);
  CHECK(language && language[0]);
  qrn_string_free(language);
  CHECK_STRING(qrn_client_idfa(client), NULL);
  char* idfv = qrn_client_idfv(client);
  CHECK(idfv && strlen(idfv) == 36);
  char* again = qrn_client_idfv(client);
  CHECK(idfv && again && strcmp(idfv, again) == 0);
  qrn_string_free(idfv);
  qrn_string_free(again);
  char* encoded = qrn_client_encoded_device_identifier(client);
  CHECK(encoded && encoded[0]);
  qrn_string_free(encoded);
  CHECK_STRING(qrn_client_store_country(client), "USA");
  CHECK(!qrn_client_is_application_installed_for_scheme(client, "quorin-nothing-handles-this"));
  CHECK(!qrn_client_is_application_installed_for_scheme(client, NULL));
  qrn_client_free(client);
}

static void test_keychain_round_trip(void) {
  char container[300];
  use_container("keychain", container, sizeof container);
  qrn_client* client = qrn_client_create();
  qrn_client_set_string_value_in_keychain(client, "s\xc3\xa9same", "token");
  CHECK_STRING(qrn_client_get_string_value_in_keychain_for_key(client, "token"), "s\xc3\xa9same");
  qrn_client_set_string_value_in_keychain(client, "\xff\xfe", "token");
  CHECK_STRING(qrn_client_get_string_value_in_keychain_for_key(client, "token"), "s\xc3\xa9same");
  qrn_client_set_string_value_in_keychain(client, NULL, "token");
  qrn_client_set_string_value_in_keychain(client, "v", NULL);
  CHECK_STRING(qrn_client_get_string_value_in_keychain_for_key(client, NULL), NULL);

  qrn_client_dispose(client);
  qrn_client_remove_value_in_keychain_for_key(client, "token");
  CHECK_STRING(qrn_client_get_string_value_in_keychain_for_key(client, "token"), NULL);
  qrn_client_set_string_value_in_keychain(client, "again", "token");
  qrn_client_clear_keychains(client);
  CHECK_STRING(qrn_client_get_string_value_in_keychain_for_key(client, "token"), NULL);
  qrn_client_free(client);
}

static void test_cloud_values_reach_the_callback_with_its_context(void) {
  char container[300];
  use_container("cloud", container, sizeof container);
  qrn_client* client = qrn_client_create();
  cloud_record record = {0};
  qrn_client_set_on_cloud_store_value_fetched(client, record_cloud_value, &record);
  void* context = NULL;
  CHECK(qrn_client_on_cloud_store_value_fetched(client, &context) == record_cloud_value);
  CHECK(context == &record);

  qrn_client_set_value_to_cloud_store(client, "blue", "colour");
  qrn_client_fetch_value_from_cloud_store_for_key(client, "colour");
  CHECK(record.calls == 1);
  CHECK(strcmp(record.key, "colour") == 0 && strcmp(record.value, "blue") == 0);

  qrn_client_remove_value_from_cloud_store_for_key(client, "colour");
  record.stops_loop = 1;
  qrn_client_fetch_value_from_cloud_store_for_key(client, "colour");
  CHECK(record.calls == 1);
  write_from_other_device("colour", "green");
  CHECK(qrn_main_loop_run(10));
  CHECK(record.calls == 2);
  CHECK(strcmp(record.key, "colour") == 0 && strcmp(record.value, "green") == 0);

  qrn_client_set_on_cloud_store_value_fetched(client, NULL, &record);
  CHECK(qrn_client_on_cloud_store_value_fetched(client, &context) == NULL);
  CHECK(context == NULL);
  qrn_client_free(client);
}

/* Two clients wait for one key; the freed one must stay silent while the other hears it. */
static void test_freeing_a_client_while_a_cloud_read_waits(void) {
  char container[300];
  use_container("waiting", container, sizeof container);
  qrn_client* freed = qrn_client_create();
  qrn_client* witness = qrn_client_create();
  cloud_record freed_record = {0};
  cloud_record witness_record = {.stops_loop = 1};
  qrn_client_set_on_cloud_store_value_fetched(freed, record_cloud_value, &freed_record);
  qrn_client_set_on_cloud_store_value_fetched(witness, record_cloud_value, &witness_record);
  qrn_client_fetch_value_from_cloud_store_for_key(freed, "late");
  qrn_client_fetch_value_from_cloud_store_for_key(witness, "late");
  qrn_client_free(freed);

  write_from_other_device("late", "here");
  CHECK(qrn_main_loop_run(10));
  CHECK(witness_record.calls == 1 && strcmp(witness_record.value, "here") == 0);
  CHECK(freed_record.calls == 0);

  qrn_client_dispose(witness);
  qrn_client_fetch_value_from_cloud_store_for_key(witness, "late");
  CHECK(witness_record.calls == 1);
  qrn_client_free(witness);
}

static void stop_loop(void* context) {
  ++*(int*)context;
  qrn_main_loop_stop();
}

static void test_lifecycle_callbacks_run_on_the_main_loop(void) {
  char container[300];
  use_container("lifecycle", container, sizeof container);
  qrn_client* client = qrn_client_create();
  int foreground = 0, background = 0, active = 0, resign = 0;
  qrn_client_set_on_application_enter_foreground(client, count_event, &foreground);
  qrn_client_set_on_application_enter_background(client, count_event, &background);
  qrn_client_set_on_application_did_become_active(client, count_event, &active);
  qrn_client_set_on_application_will_resign_active(client, stop_loop, &resign);
  void* context = NULL;
  CHECK(qrn_client_on_application_enter_foreground(client, &context) == count_event);
  CHECK(context == &foreground);
  CHECK(qrn_client_on_application_enter_background(client, &context) == count_event);
  CHECK(context == &background);
  CHECK(qrn_client_on_application_did_become_active(client, &context) == count_event);
  CHECK(context == &active);
  CHECK(qrn_client_on_application_will_resign_active(client, &context) == stop_loop);
  CHECK(context == &resign);

  CHECK(qrn_post_application_event(QRN_APPLICATION_WILL_ENTER_FOREGROUND));
  CHECK(qrn_post_application_event(QRN_APPLICATION_DID_BECOME_ACTIVE));
  CHECK(foreground == 0);
  CHECK(qrn_main_loop_drain() >= 2);
  CHECK(foreground == 1 && active == 1);
  CHECK(qrn_post_application_event(QRN_APPLICATION_DID_ENTER_BACKGROUND));
  CHECK(qrn_post_application_event(QRN_APPLICATION_WILL_RESIGN_ACTIVE));
  CHECK(qrn_main_loop_run(10));
  CHECK(background == 1 && resign == 1);
  CHECK(!qrn_main_loop_run(0.01));

  qrn_client_set_on_application_enter_foreground(client, NULL, NULL);
  CHECK(qrn_client_on_application_enter_foreground(client, NULL) == NULL);
  qrn_client_dispose(client);
  CHECK(qrn_client_on_application_did_become_active(client, NULL) == NULL);
  CHECK(qrn_post_application_event(QRN_APPLICATION_DID_BECOME_ACTIVE));
  qrn_main_loop_drain();
  CHECK(active == 1);
  qrn_client_free(client);
}

static void test_a_client_handed_to_another_facade(void) {
  char container[300];
  use_container("shared", container, sizeof container);
  qrn_client* first = qrn_client_create();
  qrn_client* second = qrn_client_create();
  int events = 0;
  qrn_client_set_on_application_did_become_active(first, count_event, &events);

  qrn_swift_client* shared = qrn_client_swift_client(first);
  CHECK(shared != NULL);
  qrn_client_set_swift_client(second, shared);
  qrn_swift_client_free(shared);
  void* context = NULL;
  CHECK(qrn_client_on_application_did_become_active(second, &context) == count_event);
  CHECK(context == &events);

  qrn_client_set_swift_client(second, NULL);
  CHECK(qrn_client_swift_client(second) == NULL);
  CHECK_STRING(qrn_client_device_model(second), "");
  CHECK_STRING(qrn_client_idfv(second), NULL);
  qrn_client_free(second);
  qrn_client_free(first);
}

static int file_exists(const char* directory, const char* name) {
  char path[512];
  struct stat status;
  snprintf(path, sizeof path, "%s/%s", directory, name);
  return stat(path, &status) == 0;
}

static int file_contains(const char* directory, const char* name, const char* text) {
  char path[512], content[4096];
  snprintf(path, sizeof path, "%s/%s", directory, name);
  FILE* file = fopen(path, "r");
  if (!file) return 0;
  size_t length = fread(content, 1, sizeof content - 1, file);
  fclose(file);
  content[length] = '\0';
  return strstr(content, text) != NULL;
}

static void test_migration_of_the_example_container(void) {
  char container[300];
  snprintf(container, sizeof container, "%s/legacy", scratch);
  char* copy[] = {"/bin/cp", "-R", QUORIN_EXAMPLE_CONTAINER, container, NULL};
  CHECK(run(copy) == 0);
  CHECK(qrn_use_container(container, cloud));
  qrn_client* client = qrn_client_create();
  char* directory = qrn_client_collect_migration_data(client);
  CHECK(directory != NULL);
  if (directory) {
    const char* tail = "/Library/campings_legacy";
    CHECK(strlen(directory) > strlen(tail) &&
          strcmp(directory + strlen(directory) - strlen(tail), tail) == 0);
    CHECK(file_exists(directory, "context") && file_exists(directory, "cachedAnalytics") &&
          file_exists(directory, "counters") && file_exists(directory, "ltoInfo"));
    CHECK(file_contains(directory, "generalInfo", "\"8C1F6E52-3B7A-4D0E-9F21-6A5D2C4B7E90\""));
    qrn_client_clear_data_after_migration(client);
    CHECK(!file_exists(directory, "context"));
    CHECK(!file_exists(container, "Library/campaigns"));
  }
  qrn_string_free(directory);
  qrn_client_free(client);
}

/* Last of all: the host's key stays the process's default from here on. */
static void test_a_host_key_seals_the_keychain(void) {
  unsigned char key[32];
  for (size_t i = 0; i < sizeof key; ++i) key[i] = (unsigned char)(i * 7 + 1);
  CHECK(qrn_use_keychain_key(key, sizeof key));
  char container[300];
  use_container("host-key", container, sizeof container);
  qrn_client* client = qrn_client_create();
  qrn_client_set_string_value_in_keychain(client, "sealed", "token");
  CHECK_STRING(qrn_client_get_string_value_in_keychain_for_key(client, "token"), "sealed");
  CHECK(!file_exists(container, "Library/Keychains/keychain.key"));
  qrn_client_free(client);

  key[0] ^= 1;
  CHECK(qrn_use_keychain_key(key, sizeof key));
  CHECK(qrn_use_container(container, cloud));
  client = qrn_client_create();
  CHECK_STRING(qrn_client_get_string_value_in_keychain_for_key(client, "token"), NULL);
  qrn_client_free(client);
}

typedef struct {
  const char* name;
  void (*run)(void);
} test_case;

static const test_case tests[] = {
    {"version_symbols", test_version_symbols},
    {"null_handles", test_null_handles},
    {"device_facts", test_device_facts},
    {"keychain_round_trip", test_keychain_round_trip},
    {"cloud_values", test_cloud_values_reach_the_callback_with_its_context},
    {"free_while_waiting", test_freeing_a_client_while_a_cloud_read_waits},
    {"lifecycle", test_lifecycle_callbacks_run_on_the_main_loop},
    {"shared_client", test_a_client_handed_to_another_facade},
    {"migration", test_migration_of_the_example_container},
    {"host_key", test_a_host_key_seals_the_keychain},
};

int main(int argc, char** argv) {
  self_path = argv[0];
  if (argc == 6 && strcmp(argv[1], "--write") == 0) return write_and_exit(argv + 2);
  snprintf(scratch, sizeof scratch, "%s/quorin-c-XXXXXX",
           getenv("TMPDIR") ? getenv("TMPDIR") : "/tmp");
  if (!mkdtemp(scratch)) return 2;
  snprintf(cloud, sizeof cloud, "%s/cloud", scratch);
  int ran = 0;
  for (size_t i = 0; i < sizeof tests / sizeof tests[0]; ++i) {
    if (argc > 1 && strcmp(argv[1], tests[i].name) != 0) continue;
    tests[i].run();
    ++ran;
  }
  char* cleanup[] = {"/bin/rm", "-rf", scratch, NULL};
  run(cleanup);
  if (!ran) fprintf(stderr, "no test named %s\n", argv[1]);
  return failures || !ran ? 1 : 0;
}

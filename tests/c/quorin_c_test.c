/* The C interface, compiled as C and linked to the shared library, on real containers. Run
 * with a test's name to run that test alone; "--write CONTAINER ACCOUNT KEY VALUE" makes the
 * program another device that writes one cloud value and exits. */
#define _POSIX_C_SOURCE 200809L

#include <dirent.h>
#include <poll.h>
#include <spawn.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "c_test.h"

static const char* self_path;

/* A fresh container under the scratch directory, made the default device. */
static void use_container(const char* name, char* path, size_t size) {
  snprintf(path, size, "%s/%s", scratch, name);
  CHECK(qrn_use_container(path, cloud));
}

/* Another device on the same cloud account starts writing `value` under `key`. */
static pid_t start_writing_from_other_device(const char* key, const char* value) {
  char container[300];
  snprintf(container, sizeof container, "%s/other-device", scratch);
  char* argv[] = {(char*)self_path, "--write", container, cloud, (char*)key, (char*)value, NULL};
  return start(argv);
}

static void write_from_other_device(const char* key, const char* value) {
  CHECK(finish(start_writing_from_other_device(key, value)) == 0);
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

static void write_text(const char* path, const char* text) {
  FILE* file = fopen(path, "w");
  CHECK(file != NULL);
  if (!file) return;
  fputs(text, file);
  fclose(file);
}

static int is_empty_directory(const char* path) {
  DIR* directory = opendir(path);
  if (!directory) return 0;
  int entries = 0;
  for (struct dirent* entry; (entry = readdir(directory));) {
    if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0) ++entries;
  }
  closedir(directory);
  return entries == 0;
}

/* Everything the quorin host's options say reaches the device: the Info.plist and the key
 * store here. */
static void test_device_options_name_the_info_plist_and_key_store(void) {
  char container[300], plist[300];
  snprintf(container, sizeof container, "%s/options", scratch);
  snprintf(plist, sizeof plist, "%s/Info.plist", scratch);
  write_text(plist,
             "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
             "<key>CFBundleVersion</key><string>417</string></dict></plist>\n");
  qrn_device_options options = QRN_DEVICE_OPTIONS_INIT;
  options.container = container;
  options.cloud_account = cloud;
  options.info_plist = plist;
  options.key_store = "key-file";
  CHECK(qrn_use_device(&options) == QRN_DEVICE_OK);
  qrn_client* client = qrn_client_create();
  CHECK_STRING(qrn_client_build_number(client), "417");
  qrn_client_set_string_value_in_keychain(client, "sealed", "token");
  CHECK_STRING(qrn_client_get_string_value_in_keychain_for_key(client, "token"), "sealed");
  CHECK(file_exists(container, "Library/Keychains/keychain.key"));
  qrn_client_free(client);

  /* Told to use the Secret Service, the device does not open a keychain the key file sealed. */
  options.key_store = "secret-service";
  CHECK(qrn_use_device(&options) == QRN_DEVICE_OK);
  client = qrn_client_create();
  CHECK_STRING(qrn_client_get_string_value_in_keychain_for_key(client, "token"), NULL);
  qrn_client_free(client);
}

/* Sizes from older and newer headers: a prefix ending on a field is read, the rest unset; a
 * larger struct is read only when its extra fields are unset. */
static void test_device_options_are_read_as_far_as_their_size_says(void) {
  char container[300];
  snprintf(container, sizeof container, "%s/sizes", scratch);
  qrn_device_options options = QRN_DEVICE_OPTIONS_INIT;
  options.container = container;
  options.cloud_account = cloud;
  options.key_store = "no-such-store";
  CHECK(qrn_use_device(&options) == QRN_DEVICE_INVALID_OPTIONS);
  options.size = offsetof(qrn_device_options, key_store);
  CHECK(qrn_use_device(&options) == QRN_DEVICE_OK);
  options.size = offsetof(qrn_device_options, key_store) + 1;
  CHECK(qrn_use_device(&options) == QRN_DEVICE_INVALID_OPTIONS);
  options.size = sizeof(size_t);
  CHECK(qrn_use_device(&options) == QRN_DEVICE_INVALID_OPTIONS);
  options.key_store = NULL;

  struct {
    qrn_device_options known;
    const char* future[2];
  } newer = {options, {NULL, NULL}};
  newer.known.size = sizeof newer;
  CHECK(qrn_use_device(&newer.known) == QRN_DEVICE_OK);
  newer.future[1] = "set";
  CHECK(qrn_use_device(&newer.known) == QRN_DEVICE_INVALID_OPTIONS);

  options.size = sizeof options;
  unsigned char key[32] = {1};
  options.keychain_key = key;
  options.keychain_key_length = 31;
  CHECK(qrn_use_device(&options) == QRN_DEVICE_INVALID_OPTIONS);
  options.keychain_key_length = 32;
  options.key_store = "key-file";
  CHECK(qrn_use_device(&options) == QRN_DEVICE_INVALID_OPTIONS);
  options.key_store = NULL;
  options.info_plist = "\xff.plist";
  CHECK(qrn_use_device(&options) == QRN_DEVICE_INVALID_OPTIONS);
  options.info_plist = "";
  CHECK(qrn_use_device(&options) == QRN_DEVICE_INVALID_OPTIONS);
  CHECK(qrn_use_device(NULL) == QRN_DEVICE_INVALID_OPTIONS);
}

/* A container that is not an absolute path is refused before anything is made in the working
 * directory. */
static void test_a_relative_container_is_refused(void) {
  char here[300], previous[512];
  snprintf(here, sizeof here, "%s/working-directory", scratch);
  CHECK(mkdir(here, 0700) == 0);
  CHECK(getcwd(previous, sizeof previous) != NULL);
  CHECK(chdir(here) == 0);
  CHECK(!qrn_use_container("", cloud));
  CHECK(!qrn_use_container("device", cloud));
  qrn_device_options options = QRN_DEVICE_OPTIONS_INIT;
  options.container = "";
  CHECK(qrn_use_device(&options) == QRN_DEVICE_RELATIVE_CONTAINER);
  options.container = "./device";
  CHECK(qrn_use_device(&options) == QRN_DEVICE_RELATIVE_CONTAINER);
  CHECK(is_empty_directory(here));
  CHECK(chdir(previous) == 0);
}

/* Every path is absolute, so that a chdir between this call and first use moves nothing; an
 * account directory, like a container, is made only where its parent exists, and a trailing
 * slash names the same directory as none. */
static void test_paths_follow_one_rule(void) {
  char container[300], account[300], mistyped[300];
  snprintf(container, sizeof container, "%s/slashed/", scratch);
  snprintf(account, sizeof account, "%s/slashed-cloud/", scratch);
  snprintf(mistyped, sizeof mistyped, "%s/missing/deep/cloud", scratch);
  qrn_device_options options = QRN_DEVICE_OPTIONS_INIT;
  options.container = container;
  options.cloud_account = "cloud";
  CHECK(qrn_use_device(&options) == QRN_DEVICE_INVALID_OPTIONS);
  options.cloud_account = "rediss://localhost:6380/0?account=a&ca=ca.pem";
  CHECK(qrn_use_device(&options) == QRN_DEVICE_INVALID_OPTIONS);
  options.cloud_account = mistyped;
  CHECK(qrn_use_device(&options) == QRN_DEVICE_UNUSABLE_CLOUD_ACCOUNT);
  options.cloud_account = account;
  options.info_plist = "Info.plist";
  CHECK(qrn_use_device(&options) == QRN_DEVICE_INVALID_OPTIONS);
  CHECK(!file_exists(scratch, "slashed"));
  options.info_plist = NULL;
  CHECK(qrn_use_device(&options) == QRN_DEVICE_OK);
  CHECK(file_exists(scratch, "slashed"));

  qrn_client* client = qrn_client_create();
  qrn_client_set_value_to_cloud_store(client, "v", "k");
  qrn_client_dispose(client);
  qrn_client_free(client);
  CHECK(file_exists(account, "cloud.db"));
  CHECK(!file_exists(scratch, "missing"));
}

/* A host's own event loop: one watch on the descriptor, a wait no longer than the next timer,
 * a drain when either fires. */
static void test_a_host_event_loop_polls_for_a_waiting_read(void) {
  char container[300];
  use_container("polled", container, sizeof container);
  qrn_client* client = qrn_client_create();
  cloud_record record = {0};
  qrn_client_set_on_cloud_store_value_fetched(client, record_cloud_value, &record);
  int fd = qrn_main_loop_fd();
  CHECK(fd >= 0 && qrn_main_loop_fd() == fd);
  qrn_client_fetch_value_from_cloud_store_for_key(client, "polled");
  CHECK(record.calls == 0);
  int timeout = qrn_main_loop_timeout_ms();
  CHECK(timeout > 0 && timeout <= 30000);
  qrn_main_loop_drain();
  struct pollfd idle = {fd, POLLIN, 0};
  CHECK(poll(&idle, 1, 0) == 0);

  /* Written while the host's loop waits, so that only the descriptor can wake it. */
  pid_t writer = start_writing_from_other_device("polled", "by poll");
  int timed_out = 0;
  for (int turn = 0; record.calls == 0 && turn < 1000 && !timed_out; ++turn) {
    struct pollfd watch = {fd, POLLIN, 0};
    int wait = qrn_main_loop_timeout_ms();
    /* Capped so that a descriptor that never signals fails the test instead of waiting. */
    timed_out = poll(&watch, 1, wait < 0 || wait > 10000 ? 10000 : wait) == 0 && wait >= 10000;
    qrn_main_loop_drain();
  }
  CHECK(finish(writer) == 0);
  CHECK(!timed_out);
  CHECK(record.calls == 1 && strcmp(record.value, "by poll") == 0);
  struct pollfd after = {fd, POLLIN, 0};
  CHECK(poll(&after, 1, 0) == 0);
  CHECK(qrn_main_loop_timeout_ms() == -1);
  qrn_client_free(client);
}

/* A stop made while no run is in progress does not end the next run early. */
static void test_a_stop_outside_a_run_is_not_kept(void) {
  char container[300];
  use_container("stop", container, sizeof container);
  qrn_client* client = qrn_client_create();
  int active = 0;
  qrn_client_set_on_application_did_become_active(client, count_event, &active);
  qrn_main_loop_stop();
  CHECK(qrn_post_application_event(QRN_APPLICATION_DID_BECOME_ACTIVE));
  CHECK(!qrn_main_loop_run(0));
  CHECK(active == 1);
  qrn_client_free(client);
}

/* Facades on an earlier device keep hearing its cloud values and the application's events
 * after another device became the default. */
static void test_two_devices_are_driven_by_one_main_loop(void) {
  char first[300], second[300];
  use_container("first", first, sizeof first);
  qrn_client* left = qrn_client_create();
  use_container("second", second, sizeof second);
  qrn_client* right = qrn_client_create();
  cloud_record left_record = {.stops_loop = 1}, right_record = {.stops_loop = 1};
  int left_active = 0, right_active = 0;
  qrn_client_set_on_cloud_store_value_fetched(left, record_cloud_value, &left_record);
  qrn_client_set_on_cloud_store_value_fetched(right, record_cloud_value, &right_record);
  qrn_client_set_on_application_did_become_active(left, count_event, &left_active);
  qrn_client_set_on_application_did_become_active(right, count_event, &right_active);
  qrn_client_fetch_value_from_cloud_store_for_key(left, "left");
  qrn_client_fetch_value_from_cloud_store_for_key(right, "right");

  write_from_other_device("left", "L");
  write_from_other_device("right", "R");
  for (int run = 0; run < 2 && !(left_record.calls && right_record.calls); ++run)
    qrn_main_loop_run(10);
  CHECK(left_record.calls == 1 && strcmp(left_record.value, "L") == 0);
  CHECK(right_record.calls == 1 && strcmp(right_record.value, "R") == 0);

  CHECK(qrn_post_application_event(QRN_APPLICATION_DID_BECOME_ACTIVE));
  qrn_main_loop_drain();
  CHECK(left_active == 1 && right_active == 1);
  qrn_client_free(right);
  qrn_client_free(left);
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
    {"device_options", test_device_options_name_the_info_plist_and_key_store},
    {"device_option_sizes", test_device_options_are_read_as_far_as_their_size_says},
    {"relative_container", test_a_relative_container_is_refused},
    {"paths", test_paths_follow_one_rule},
    {"poll", test_a_host_event_loop_polls_for_a_waiting_read},
    {"stop_outside_a_run", test_a_stop_outside_a_run_is_not_kept},
    {"two_devices", test_two_devices_are_driven_by_one_main_loop},
    {"host_key", test_a_host_key_seals_the_keychain},
};

int main(int argc, char** argv) {
  self_path = argv[0];
  if (argc == 6 && strcmp(argv[1], "--write") == 0) return write_and_exit(argv + 2);
  return run_tests(argc, argv, tests, sizeof tests / sizeof tests[0]);
}

/* A small C host: reads device facts, round-trips the keychain and the cloud store, hears a
 * lifecycle event, migrates a legacy container and exits 0 when all of it worked.
 *
 *   c-host CONTAINER [CLOUD-ACCOUNT]
 */
#include <stdio.h>
#include <string.h>

#include <quorin/quorin.h>

typedef struct {
  int failures;
  int cloud_answers;
  int foregrounds;
} host_state;

static void on_cloud_value(void* context, const char* key, const char* value) {
  host_state* state = context;
  ++state->cloud_answers;
  printf("cloud %s = %s\n", key, value ? value : "(none)");
}

static void on_foreground(void* context) {
  host_state* state = context;
  ++state->foregrounds;
  printf("event: enter foreground\n");
}

/* Prints a fact and releases the string the library handed over. */
static void print_fact(const char* name, char* value) {
  printf("%-24s %s\n", name, value ? value : "(nil)");
  qrn_string_free(value);
}

static void expect(host_state* state, int ok, const char* what) {
  if (!ok) {
    fprintf(stderr, "c-host: %s failed\n", what);
    ++state->failures;
  }
}

static void round_trip_keychain(host_state* state, qrn_client* client) {
  qrn_client_set_string_value_in_keychain(client, "c-host secret", "c-host-token");
  char* value = qrn_client_get_string_value_in_keychain_for_key(client, "c-host-token");
  expect(state, value && strcmp(value, "c-host secret") == 0, "keychain round trip");
  qrn_string_free(value);
  qrn_client_remove_value_in_keychain_for_key(client, "c-host-token");
  value = qrn_client_get_string_value_in_keychain_for_key(client, "c-host-token");
  expect(state, value == NULL, "keychain removal");
  qrn_string_free(value);
}

static void round_trip_cloud(host_state* state, qrn_client* client) {
  qrn_client_set_value_to_cloud_store(client, "from the C host", "c-host-greeting");
  /* The value is there, so the callback runs before the call returns. */
  qrn_client_fetch_value_from_cloud_store_for_key(client, "c-host-greeting");
  expect(state, state->cloud_answers == 1, "cloud round trip");
  qrn_client_remove_value_from_cloud_store_for_key(client, "c-host-greeting");
}

static void migrate(host_state* state, qrn_client* client) {
  char* directory = qrn_client_collect_migration_data(client);
  expect(state, directory != NULL, "migration");
  printf("migrated into %s\n", directory ? directory : "(nothing)");
  qrn_string_free(directory);
  qrn_client_clear_data_after_migration(client);
}

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    fprintf(stderr, "usage: c-host CONTAINER [CLOUD-ACCOUNT]\n");
    return 2;
  }
  if (!qrn_use_container(argv[1], argc == 3 ? argv[2] : NULL)) {
    fprintf(stderr, "c-host: cannot use %s\n", argv[1]);
    return 2;
  }
  qrn_client* client = qrn_client_create();
  if (!client) return 1;

  host_state state = {0};
  qrn_client_set_on_cloud_store_value_fetched(client, on_cloud_value, &state);
  qrn_client_set_on_application_enter_foreground(client, on_foreground, &state);

  print_fact("deviceModel", qrn_client_device_model(client));
  print_fact("osVersion", qrn_client_os_version(client));
  print_fact("languageWithRegion", qrn_client_language_with_region(client));
  print_fact("idfv", qrn_client_idfv(client));
  print_fact("storeCountry", qrn_client_store_country(client));
  printf("%-24s %s\n", "isTablet", qrn_client_is_tablet(client) ? "true" : "false");

  round_trip_keychain(&state, client);
  round_trip_cloud(&state, client);

  /* Lifecycle callbacks run on the main loop; this host has none of its own. */
  qrn_post_application_event(QRN_APPLICATION_WILL_ENTER_FOREGROUND);
  qrn_main_loop_drain();
  expect(&state, state.foregrounds == 1, "lifecycle event");

  migrate(&state, client);

  qrn_client_dispose(client);
  qrn_client_free(client);
  return state.failures ? 1 : 0;
}

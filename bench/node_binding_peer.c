/* The C side of bench/node_binding_bench.mjs: the same calls, made straight through the C
 * interface on a device of the same kind, timed per call.
 *   node_binding_peer CONTAINER CLOUD ITERATIONS
 * prints "keychainGet NS" and "cloudGet NS", the mean of one call in nanoseconds. */
#define _POSIX_C_SOURCE 200809L
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include <quorin/quorin.h>

static int answered;

static void on_value(void* context, const char* key, const char* value) {
  (void)context;
  (void)key;
  answered += value != NULL;
}

static double now_ns(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec * 1e9 + t.tv_nsec;
}

int main(int argc, char** argv) {
  if (argc != 4) return 2;
  int iterations = atoi(argv[3]);
  qrn_device_options options = QRN_DEVICE_OPTIONS_INIT;
  options.container = argv[1];
  options.cloud_account = argv[2];
  options.key_store = "key-file";
  qrn_device* device = NULL;
  if (qrn_device_open(&options, &device) != QRN_DEVICE_OK) return 1;
  qrn_client* client = qrn_device_create_client(device);
  qrn_client_set_on_cloud_store_value_fetched(client, on_value, NULL);
  qrn_client_set_string_value_in_keychain(client, "bench-value", "bench-key");
  qrn_client_set_value_to_cloud_store(client, "bench-value", "bench-key");

  double start = now_ns();
  for (int i = 0; i < iterations; ++i) {
    qrn_string_free(qrn_client_get_string_value_in_keychain_for_key(client, "bench-key"));
  }
  printf("keychainGet %.0f\n", (now_ns() - start) / iterations);
  start = now_ns();
  for (int i = 0; i < iterations; ++i) {
    qrn_client_fetch_value_from_cloud_store_for_key(client, "bench-key");
  }
  printf("cloudGet %.0f\n", (now_ns() - start) / iterations);
  qrn_client_free(client);
  qrn_device_free(device);
  return answered == iterations ? 0 : 1;
}

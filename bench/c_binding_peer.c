/* The C side of bench/python_binding_bench.py: the same calls on the same device, timed in a
 * loop. Prints "keychain_get NS" and "cloud_get NS", nanoseconds a call.
 *   c_binding_peer CONTAINER CLOUD-ACCOUNT ITERATIONS */
#define _POSIX_C_SOURCE 200809L

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <quorin/quorin.h>

static double now_ns(void) {
  struct timespec clock;
  clock_gettime(CLOCK_MONOTONIC, &clock);
  return (double)clock.tv_sec * 1e9 + (double)clock.tv_nsec;
}

static void on_value(void* context, const char* key, const char* value) {
  (void)key;
  *(int*)context += value != NULL;
}

int main(int argc, char** argv) {
  if (argc != 4) {
    fprintf(stderr, "usage: c_binding_peer CONTAINER CLOUD-ACCOUNT ITERATIONS\n");
    return 2;
  }
  long iterations = strtol(argv[3], NULL, 10);
  qrn_device_options options = QRN_DEVICE_OPTIONS_INIT;
  options.container = argv[1];
  options.cloud_account = argv[2];
  options.key_store = "key-file";
  qrn_device* device = NULL;
  if (iterations <= 0 || qrn_device_open(&options, &device) != QRN_DEVICE_OK) {
    fprintf(stderr, "c_binding_peer: the device or the count is refused\n");
    return 2;
  }
  qrn_client* client = qrn_device_create_client(device);
  int answered = 0;
  qrn_client_set_on_cloud_store_value_fetched(client, on_value, &answered);
  qrn_client_set_string_value_in_keychain(client, "secret", "token");
  qrn_client_set_value_to_cloud_store(client, "hello", "greeting");

  double start = now_ns();
  for (long i = 0; i < iterations; ++i)
    qrn_string_free(qrn_client_get_string_value_in_keychain_for_key(client, "token"));
  printf("keychain_get %.0f\n", (now_ns() - start) / (double)iterations);

  start = now_ns();
  for (long i = 0; i < iterations; ++i)
    qrn_client_fetch_value_from_cloud_store_for_key(client, "greeting");
  printf("cloud_get %.0f\n", (now_ns() - start) / (double)iterations);

  qrn_client_dispose(client);
  qrn_client_free(client);
  qrn_device_free(device);
  return answered == iterations ? 0 : 1;
}

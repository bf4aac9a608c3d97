/* What the C test programs share: checks that report and count each failure, a scratch
 * directory removed at the end, and a runner that runs every test or the one named. */
#ifndef QUORIN_TESTS_C_TEST_H
#define QUORIN_TESTS_C_TEST_H

#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>

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

/* A fresh directory under $TMPDIR for the tests' devices, and the cloud account in it that
 * they share. */
static char scratch[256];
static char cloud[300];

typedef struct {
  const char* name;
  void (*run)(void);
} test_case;

static pid_t start(char* const argv[]) {
  pid_t child;
  return posix_spawn(&child, argv[0], NULL, NULL, argv, environ) == 0 ? child : -1;
}

static int finish(pid_t child) {
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) < 0) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

static int run(char* const argv[]) {
  return finish(start(argv));
}

/* Runs the test `argv[1]` names, or every test without one, in a fresh scratch directory:
 * the program's exit status. */
static int run_tests(int argc, char** argv, const test_case* tests, size_t count) {
  snprintf(scratch, sizeof scratch, "%s/quorin-c-XXXXXX",
           getenv("TMPDIR") ? getenv("TMPDIR") : "/tmp");
  if (!mkdtemp(scratch)) return 2;
  snprintf(cloud, sizeof cloud, "%s/cloud", scratch);
  int ran = 0;
  for (size_t i = 0; i < count; ++i) {
    if (argc > 1 && strcmp(argv[1], tests[i].name) != 0) continue;
    tests[i].run();
    ++ran;
  }
  char* cleanup[] = {"/bin/rm", "-rf", scratch, NULL};
  run(cleanup);
  if (!ran) fprintf(stderr, "no test named %s\n", argv[1]);
  return failures || !ran ? 1 : 0;
}

#endif

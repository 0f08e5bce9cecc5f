/* A stand-in for the DNS-SD client library's connection, preloaded into the IPP printer of the
 * office road test: ippeveprinter connects to the DNS-SD daemon at start even when told to
 * advertise nothing (-r off), and fails without one; these machines run no such daemon. The
 * printer gets a client that is never used; nothing is advertised. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stddef.h>

static char unused_client;

/* Takes the library's arguments; gives the stand-in client, with no error. */
void* avahi_client_new(const void* poll, int flags, void* callback, void* user_data, int* error) {
  (void)poll;
  (void)flags;
  (void)callback;
  (void)user_data;
  if (error) *error = 0;
  return &unused_client;
}

/* Takes a client; frees a real one, leaves the stand-in alone. */
void avahi_client_free(void* client) {
  if (client == &unused_client) return;
  void (*real)(void*) = (void (*)(void*))dlsym(RTLD_NEXT, "avahi_client_free");
  if (real) real(client);
}

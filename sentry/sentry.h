#ifndef CORVANTIS_PLATFORM_SENTRY_SENTRY_H
#define CORVANTIS_PLATFORM_SENTRY_SENTRY_H

/* The subset of the sentry-native 0.3.1 interface that the program uses, with the same names,
   signatures and ownership rules. Functions that take a sentry_value_t as an argument to store
   (set_by_key, append, set_user, add_breadcrumb, capture_event) take over the caller's reference.
 */

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct sentry_options_s sentry_options_t;

struct sentry_value_node;
/* A reference to a refcounted JSON-like value; a null node is the null value. */
typedef struct sentry_value_s {
  struct sentry_value_node* _node;
} sentry_value_t;

typedef struct sentry_uuid_s {
  char bytes[16];
} sentry_uuid_t;

typedef enum sentry_level_e {
  SENTRY_LEVEL_DEBUG = -1,
  SENTRY_LEVEL_INFO = 0,
  SENTRY_LEVEL_WARNING = 1,
  SENTRY_LEVEL_ERROR = 2,
  SENTRY_LEVEL_FATAL = 3
} sentry_level_t;

/* New options with no DSN (nothing is sent) and no release. */
sentry_options_t* sentry_options_new(void);
/* Sets the DSN; an empty or malformed one means events are built but never sent. */
void sentry_options_set_dsn(sentry_options_t* options, const char* dsn);
/* Sets the "release" attached to every event; unset by default. */
void sentry_options_set_release(sentry_options_t* options, const char* release);

/* Starts the client, taking ownership of options (shuts a running client down first). With a
   usable DSN it sends what earlier runs left in the database folder (".sentry-native" in the
   current directory) and starts the crash handler process. Returns 0 on success, non-zero when
   options is NULL or sending could not be set up. */
int sentry_init(sentry_options_t* options);
/* Stops a running client: sends what is queued for at most 2 s, stores the rest in the
   database, stops catching crashes and clears the scope. Returns 0 when nothing was lost. */
int sentry_shutdown(void);

sentry_value_t sentry_value_new_null(void);
sentry_value_t sentry_value_new_int32(int32_t value);
/* A copy of the UTF-8 text; NULL gives the null value. */
sentry_value_t sentry_value_new_string(const char* value);
sentry_value_t sentry_value_new_list(void);
sentry_value_t sentry_value_new_object(void);
void sentry_value_incref(sentry_value_t value);
void sentry_value_decref(sentry_value_t value);
int sentry_value_is_null(sentry_value_t value);
/* Stores v under k, replacing an earlier value; takes v. Returns 0, or 1 when value is no object.
 */
int sentry_value_set_by_key(sentry_value_t value, const char* k, sentry_value_t v);
/* Appends v; takes v. Returns 0, or 1 when value is no list. */
int sentry_value_append(sentry_value_t value, sentry_value_t v);

/* An event object with a fresh "event_id" and the current "timestamp". */
sentry_value_t sentry_value_new_event(void);
/* An event with "level", "logger" (only when not NULL) and "message": {"formatted": text}. */
sentry_value_t sentry_value_new_message_event(sentry_level_t level, const char* logger,
                                              const char* text);
/* A breadcrumb with "timestamp", and "type" and "message" when not NULL. */
sentry_value_t sentry_value_new_breadcrumb(const char* type, const char* message);

/* Replaces the scope's user (the null value removes it); takes user. */
void sentry_set_user(sentry_value_t user);
/* Sets a scope tag; a later value for the same key replaces the earlier one. */
void sentry_set_tag(const char* key, const char* value);
/* Adds to the scope's breadcrumbs (the last 100 are kept); takes breadcrumb. */
void sentry_add_breadcrumb(sentry_value_t breadcrumb);
/* Adds the scope and queues the event for sending without waiting; takes event.
   Returns the event id, or the nil uuid when the client is not started or event is no object. */
sentry_uuid_t sentry_capture_event(sentry_value_t event);

sentry_uuid_t sentry_uuid_nil(void);
int sentry_uuid_is_nil(const sentry_uuid_t* uuid);
/* Writes the hyphenated lower-case form and a NUL into str. */
void sentry_uuid_as_string(const sentry_uuid_t* uuid, char str[37]);

#ifdef __cplusplus
}
#endif

#endif

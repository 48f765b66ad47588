/* Every call of zr90.h once, as a C program sees them, against the drives the
 * environment names (a simulated card: unit numbers tell the channels apart).
 *   zr90-capi-check SCRATCH_FOLDER
 * Prints each failed check and exits 1 when any failed. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "zr90.h"

static int failures = 0;

#define CHECK(condition)                                                         \
  do {                                                                           \
    if (!(condition)) {                                                          \
      fprintf(stderr, "%s:%d: failed: %s\n", __FILE__, __LINE__, #condition);    \
      ++failures;                                                                \
    }                                                                            \
  } while (0)

static zr90_error error;

static void check_parameters(void) {
  zr90_parameter p;
  CHECK(zr90_parameter_count() == 178);
  CHECK(zr90_parameter_at(zr90_parameter_count(), &p) == ZR90_ARGUMENT);
  static const struct {
    const char* name;
    unsigned address;
    const char* type;
    const char* memory;
    int is_signed;
    long long lowest;
    unsigned long long highest;
  } rows[] = {
      {"kqp", 0x0812, "uint", "ram", 0, 0, 65535},
      {"KQP+2", 0x0814, "uint", "ram", 0, 0, 65535},
      {"pwm", 0x0000, "int", "ram", 1, -32768, 32767},
      {"nvkqp", 0x0000, "eword", "eeprom", 0, 0, 65535},
  };
  for (size_t i = 0; i < sizeof rows / sizeof rows[0]; ++i) {
    CHECK(zr90_parameter_info(rows[i].name, &p, &error) == ZR90_OK);
    if (rows[i].address != 0) CHECK(p.address == rows[i].address);
    CHECK(strcmp(p.type, rows[i].type) == 0);
    CHECK(strcmp(p.memory, rows[i].memory) == 0);
    CHECK(p.is_signed == rows[i].is_signed && p.lowest == rows[i].lowest && p.highest == rows[i].highest);
  }
  CHECK(zr90_parameter_info("kpq", &p, &error) == ZR90_UNKNOWN_NAME);
  CHECK(strstr(error.message, "did you mean \"kqp\"") != NULL);
  CHECK(strcmp(error.name, "kpq") == 0);
}

static void check_refused_opens(void) {
  static const struct {
    zr90_options options;
    int code;
  } rows[] = {
      {{.link = "no-such-link-of-the-check"}, ZR90_CONFIG},
      {{.interface_kind = "EZAL16", .ip = "not-an-address"}, ZR90_CONFIG},
      {{.interface_kind = "NOSUCH"}, ZR90_OPEN},
      {{.interface_kind = "OSDEVICE", .protocol = "ZAL", .port = "/nonexistent/tty"}, ZR90_OPEN},
  };
  for (size_t i = 0; i < sizeof rows / sizeof rows[0]; ++i) {
    zr90_link* link = (zr90_link*)&error; /* must be set to NULL */
    CHECK(zr90_open(&rows[i].options, &link, &error) == rows[i].code);
    CHECK(error.code == rows[i].code && error.message[0] != '\0');
    CHECK(link == NULL);
  }
  zr90_close(NULL);
}

static void check_values(zr90_link* link) {
  int64_t value = 0;
  CHECK(zr90_get(link, "unitnumber", 2, &value, &error) == ZR90_OK && value == 1003);
  const char* names[] = {"unitnumber", "kqp"};
  const uint8_t axes[] = {0, 5};
  zr90_reading readings[4];
  CHECK(zr90_get_many(link, names, 2, axes, 2, readings, &error) == ZR90_OK);
  CHECK(readings[0].value == 1001 && readings[1].value == 1006 && readings[1].axis == 5);
  CHECK(readings[2].value == 1200 && readings[3].value == 1200);

  static const struct {
    const char* name;
    uint8_t axes[2];
    size_t axis_count;
    int code;
  } refused[] = {
      {"nosuch", {0}, 1, ZR90_UNKNOWN_NAME},
      {"kqp", {3, 1}, 2, ZR90_ARGUMENT},
      {"kqp", {1, 1}, 2, ZR90_ARGUMENT},
      {"kqp", {8}, 1, ZR90_ARGUMENT},
  };
  for (size_t i = 0; i < sizeof refused / sizeof refused[0]; ++i) {
    CHECK(zr90_get_many(link, &refused[i].name, 1, refused[i].axes, refused[i].axis_count, readings, &error) ==
          refused[i].code);
  }

  CHECK(zr90_set(link, "kqp", "1500", 1, 1, &error) == ZR90_OK);
  CHECK(zr90_get(link, "kqp", 1, &value, &error) == ZR90_OK && value == 1500);
  CHECK(zr90_set(link, "pwm", "-120", 1, 1, &error) == ZR90_OK);
  CHECK(zr90_get(link, "pwm", 1, &value, &error) == ZR90_OK && value == -120);
  CHECK(zr90_set(link, "kqp", "-1", 1, 1, &error) == ZR90_BAD_VALUE);
  CHECK(strstr(error.message, "out of range") != NULL && strcmp(error.name, "kqp") == 0);

  const zr90_assignment assignments[] = {{"kqp", "0x514"}, {"kqi", "30"}};
  const uint8_t two[] = {3, 4};
  zr90_write writes[4];
  CHECK(zr90_set_many(link, assignments, 2, two, 2, 1, writes, &error) == ZR90_OK);
  CHECK(writes[0].written && writes[0].read_back == 1300 && writes[3].axis == 4 && writes[3].read_back == 30);
  const zr90_assignment bad[] = {{"kqp", "1"}, {"kqi", "x"}};
  CHECK(zr90_set_many(link, bad, 2, two, 2, 1, writes, &error) == ZR90_BAD_VALUE);
  CHECK(zr90_get(link, "kqp", 3, &value, &error) == ZR90_OK && value == 1300); /* nothing written */
}

static void check_faults(zr90_link* link) {
  zr90_faults faults;
  CHECK(zr90_read_faults(link, 0, &faults, &error) == ZR90_OK);
  CHECK(faults.count == 4 && !faults.any_fault);
  CHECK(strcmp(faults.words[0].name, "fault") == 0 && faults.words[0].role == ZR90_FAULTS);
  CHECK(strcmp(faults.words[3].name, "status") == 0 && faults.words[3].role == ZR90_STATUS);
}

static void check_settings(zr90_link* link, const char* folder) {
  char path[512];
  snprintf(path, sizeof path, "%s/axis6.json", folder);
  const uint8_t six[] = {6};
  zr90_settings* saved = NULL;
  CHECK(zr90_save(link, six, 1, 0, &saved, &error) == ZR90_OK);
  uint8_t axes[8];
  CHECK(zr90_settings_axes(saved, axes) == 1 && axes[0] == 6);
  CHECK(zr90_settings_count(saved, 6) > 10 && zr90_settings_count(saved, 0) == 0);
  zr90_setting setting;
  CHECK(zr90_settings_at(saved, 6, 0, &setting) == ZR90_OK && !setting.ram);
  CHECK(zr90_settings_write(saved, path, &error) == ZR90_OK);

  zr90_settings* loaded = NULL;
  CHECK(zr90_settings_load(path, &loaded, &error) == ZR90_OK);
  zr90_difference* differences = NULL;
  size_t count = 99;
  CHECK(zr90_diff(saved, loaded, &differences, &count, &error) == ZR90_OK && count == 0 && differences == NULL);

  CHECK(zr90_set(link, "nvkqp", "900", 6, 1, &error) == ZR90_OK);
  zr90_settings* live = NULL;
  CHECK(zr90_save_like(link, loaded, &live, &error) == ZR90_OK);
  CHECK(zr90_diff(loaded, live, &differences, &count, &error) == ZR90_OK && count == 1);
  if (count == 1) CHECK(strcmp(differences[0].name, "nvkqp") == 0 && differences[0].b == 900 && differences[0].in_a);
  zr90_free(differences);

  zr90_change* changes = NULL;
  char backup[512];
  zr90_restore_options dry = {NULL, 0, -1, 1, NULL};
  CHECK(zr90_restore(link, loaded, &dry, &changes, &count, backup, sizeof backup, &error) == ZR90_OK);
  CHECK(count == 1 && changes[0].outcome == ZR90_PLANNED && changes[0].old_value == 900 && backup[0] == '\0');
  zr90_free(changes);
  zr90_restore_options kept = {NULL, 0, -1, 0, folder};
  CHECK(zr90_restore(link, loaded, &kept, &changes, &count, backup, sizeof backup, &error) == ZR90_OK);
  CHECK(count == 1 && changes[0].outcome == ZR90_VERIFIED && strstr(backup, "axis6.before-") != NULL);
  zr90_free(changes);
  zr90_settings* backed_up = NULL;
  CHECK(zr90_settings_load(backup, &backed_up, &error) == ZR90_OK);
  zr90_settings_free(backed_up);

  FILE* broken = fopen(path, "w");
  fputs("{\n  \"format\": \"zr90-settings\",\n  x\n}\n", broken);
  fclose(broken);
  CHECK(zr90_settings_load(path, &backed_up, &error) == ZR90_SETTINGS && backed_up == NULL);
  CHECK(error.line == 3 && error.column == 3);
  zr90_settings_free(live);
  zr90_settings_free(loaded);
  zr90_settings_free(saved);
}

static void check_cancel(zr90_link* link) {
  int64_t value = 0;
  zr90_cancel(link);
  CHECK(zr90_get(link, "kqp", 0, &value, &error) == ZR90_CANCELLED);
  zr90_clear_cancel(link);
  CHECK(zr90_get(link, "kqp", 0, &value, &error) == ZR90_OK);
}

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: zr90-capi-check SCRATCH_FOLDER\n");
    return 2;
  }
  CHECK(strcmp(zr90_code_name(ZR90_TIMEOUT), "timeout") == 0);
  CHECK(zr90_version()[0] != '\0');
  check_parameters();
  check_refused_opens();
  zr90_link* link = NULL;
  if (zr90_open_environment(&link, &error) != ZR90_OK) {
    fprintf(stderr, "cannot open the link: %s\n", error.message);
    return 1;
  }
  CHECK(zr90_axis_count(link) == 8 && zr90_not_started(link) == 0);
  CHECK(strstr(zr90_description(link), "SSZAL hardware found") != NULL);
  check_values(link);
  check_faults(link);
  check_settings(link, argv[1]);
  check_cancel(link);
  zr90_close(link);
  if (failures == 0) printf("all checks passed\n");
  return failures == 0 ? 0 : 1;
}

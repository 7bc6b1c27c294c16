#pragma once

// Carrying the settings of older builds over into the current layout of the store (see
// settings/schema.h). Runs at installation, after the client identity has been recorded.

namespace quarnel {

// Runs the steps the stored SoftwareBuild calls for (none stored: all of them) and then records
// the current build; 1 when every step reported success, else 0 (the build is then not recorded,
// so the next installation tries again). An old value is deleted only once its new copy is
// stored, and defaults fill only settings that have no value yet.
int MigrateSettings();
// Builds before 260 kept the password as plain text and the wireless filter under older names
// in the product key: protects the password with the client identity and renames the values.
// 0 when a new value could not be written (its old one is then kept).
int MigrateFromBuild259();
// Builds before 270 kept every setting in the product key: moves them into the settings key
// (the password re-protected with the hardware profile identifier, the interval turned from a
// list position into minutes) and stamps the settings with the current time when it wrote
// anything or they had no time yet. 0 when a value could not be written (its old one is kept).
int MigrateFromBuild269();

}  // namespace quarnel

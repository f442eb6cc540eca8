#pragma once

// What the launcher was asked to do: the mode and the six values of its
// command line, read once and passed down whole. The values point into the
// argument vector, which outlives every use of the request.

enum class UpdateMode {
  Direct,   // run the updater here, then restart the product
  Elevate,  // run an elevated instance of the launcher, then restart the product
  Child,    // the elevated instance: run the updater, nothing more
};

struct UpdateRequest {
  UpdateMode mode;
  const wchar_t* bootSourceDirectory;
  const wchar_t* settingsDirectory;
  const wchar_t* installDirectory;
  const wchar_t* passThroughA;
  const wchar_t* passThroughB;
  const wchar_t* passThroughC;
};

// A panel: the device's own controls on the picture. Each panel is one file,
// app/panels/<name>.cpp, and exactly one is built into the server (PANEL_APP
// at build time, the demonstration by default). The file defines panelApp;
// main runs its create function once at start-up and hands its per-turn
// function to the control loop.
#pragma once

#include <cstdint>

struct PanelApp {
  // Creates the panel's buttons and sliders and draws whatever else it shows.
  // Runs once on the main thread, after the server has started and before
  // the control loop.
  void (*create)();
  // Null, or run by the control loop on the main thread once per turn, after
  // the button and slider polls, to redraw what changed without a click. It
  // must return promptly (the next poll waits for it) and draws through the
  // locked drawing interface (graphics/draw.h).
  void (*turn)();
  // Null, or run by the control loop on the main thread with a slider's
  // index (its place in the slider table, in the order of creation) right
  // after the slider poll in which the pointer changed that slider's value:
  // a readout of the value then follows the knob in the same wake-up
  // instead of at the next turn. The same rules as turn.
  void (*sliderMoved)(int index);
};

extern const PanelApp panelApp;  // defined by the panel file built into the server

// The drawing colour: each component is set to 100 at start-up, before the
// arguments are read. The demonstration's sliders write it (the low 16 bits)
// and its buttons draw with it; it is kept whichever panel is built.
extern int32_t R, G, B;

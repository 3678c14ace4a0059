// The control loop: the only driver of the application.
#pragma once

// Polls the buttons and then the sliders with the pointer whenever a pointer
// report wakes it, when a pressed button is due to spring back, and at least
// every 300 ms; runs turn (when not null) once every 300 ms after the polls;
// while work is set and no stop signal has come.
void runControlLoop(void (*turn)());

// Wakes the control loop for a poll now. Safe from any thread; a wake that
// comes while the loop is polling gives one more poll, never none.
void wakeControlLoop();

// The control loop: the only driver of the application.
#pragma once

// Polls every widget kind (buttons, then sliders) with the pointer whenever
// a pointer report wakes it, when a pressed button is due to spring back,
// and at least every 300 ms; runs sliderMoved (when not null) with the
// index of each slider the pointer moved, right after the slider poll that
// moved it; publishes the control map when it changed; runs turn (when not
// null) once every 300 ms after the polls; while work is set and no stop
// signal has come.
void runControlLoop(void (*turn)(), void (*sliderMoved)(int index) = nullptr);

// Wakes the control loop for a poll now. Safe from any thread; a wake that
// comes while the loop is polling gives one more poll, never none.
void wakeControlLoop();

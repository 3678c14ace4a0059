// The control loop: the only driver of the application.
#pragma once

// Every 300 ms hands mX, mY to the buttons and then the sliders, then runs
// turn (when not null), while work is set and no stop signal has come.
void runControlLoop(void (*turn)());

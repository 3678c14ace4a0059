// Wake-ups for connection threads that sleep in poll until something
// happens: one eventfd per client slot, made once when the first connection
// starts and kept for the life of the process, so a wake-up can never reach
// a descriptor that was closed and given to something else.
//
// A slot's thread watches the picture while it streams the change stream.
// The drawing hook (graphics/drawn_area.h) wakes only the first watcher (the
// lowest slot) with the first write after the screen took the drawn area:
// it takes the area, and wakes the other watchers only when that made a new
// picture version. A panel that redraws a widget unchanged on every poll
// then wakes one thread, not five. The first watcher also keeps the slow
// beat. The stop wakes every slot and the listener, so a sleeping thread
// sees work cleared at once.
#pragma once

// Makes the eventfds (once; later calls do nothing) and sets the drawing
// hook. False when they could not be made: no slot can then sleep in poll.
bool openSlotWakes();
// The slot's eventfd, readable while a wake-up is pending; -1 when none.
int slotWakeFd(int slot);
// Clears the slot's pending wake-ups.
void drainSlotWake(int slot);

// Whether the slot's thread watches the picture.
void watchPicture(int slot, bool on);
// True when the slot is the first watcher.
bool firstWatcher(int slot);
// Wakes the first watcher: the drawing hook.
void wakeFirstWatcher();
// Wakes every watcher but the slot's own: a new picture version exists.
void wakeOtherWatchers(int slot);
// Wakes every slot and the listener.
void wakeAllSlots();
// Wakes the slot's thread.
void wakeSlot(int slot);
// The listener's eventfd, readable once the stop woke it; -1 when none.
int listenerWakeFd();
// Clears the listener's pending wake-ups.
void drainListenerWake();

// Whether the slot's thread sends the control map (widgets/control_map.h).
void watchControlMap(int slot, bool on);
// Wakes every slot that sends the control map: a new map was published.
void wakeControlMapWatchers();

// Wake-ups for connection threads that sleep in poll until something
// happens: one eventfd per client slot, made once when the first connection
// starts and kept for the life of the process, so a wake-up can never reach
// a descriptor that was closed and given to something else.
//
// A slot's thread asks for picture wake-ups while it streams the change
// stream: the drawing hook (graphics/drawn_area.h) then wakes it with the
// first write after the screen took the drawn area. The stop wakes every
// slot, so a sleeping thread sees work cleared at once.
#pragma once

// Makes the eventfds (once; later calls do nothing) and sets the drawing
// hook. False when they could not be made: no slot can then sleep in poll.
bool openSlotWakes();
// The slot's eventfd, readable while a wake-up is pending; -1 when none.
int slotWakeFd(int slot);
// Clears the slot's pending wake-ups.
void drainSlotWake(int slot);

// Whether the slot's thread is woken when the picture is drawn.
void watchPicture(int slot, bool on);
// Wakes every slot that watches the picture: the drawing hook.
void wakePictureWatchers();
// Wakes every slot.
void wakeAllSlots();

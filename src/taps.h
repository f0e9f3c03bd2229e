// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Presses of the keys that toggle something: P and the Pause key pause play, M turns
// the sound off and on, and so does a pad's Start for the pause.
//
// The play controls are read from the library's key state each tick (the rules' own
// reading); a toggle cannot be: a press whose release comes before the next frame
// looks (as on-screen keyboards, remote desktops and input tools send them) would be
// lost. So the library's low-level keyboard callback counts each press as it comes, on
// the library's input thread, and every press toggles exactly once however short it
// was. A key held down counts once (its repeats are not presses). Pads have no
// callback: their Start is sampled at every frame and while the game waits between
// frames.
//
// This module owns those counts. Pause (pause.cpp) and the sound toggle (MuteOnKey,
// below) take presses from it, one per frame.

// What a press asks for.
enum class Toggle { Pause, Mute };

// Installs the counting keyboard callback (after the keyboard is installed; a callback
// installed before stays called too), and has the display send a held key's repeats
// without a release before each, so that a repeat never looks like a new press.
void CountTogglePresses();

// Presses counted so far no longer count, and a pad's Start held now counts only once
// let go and pressed again: for the start of a screen where they mean something (a key
// that began the level, or letters typed into a name, are no toggles).
void ForgetTogglePresses();

// Takes one press of `which` counted since it was last asked; true at most once per
// press. Samples the pads first (Pause). Main thread.
bool TakeTogglePress(Toggle which);

// Notes whether a pad's Start went down since the last look. Main thread; cheap enough
// for the waits between frames.
void SamplePadStart();

// The keyboard callback itself: `scancode` is the library's key code, with 0x80 added
// for a release. Tests call it to press and release keys.
void NoteKeyEvent(int scancode);

// M turns all sound off and on again (one press a frame, from the count above); the
// choice is logged and kept for the next run.
void MuteOnKey();

// Scene 1 (orders 0 to 3): the cloud layer over a deep-blue sky, the four
// overlays and the rising backdrop. Its state, readable and settable by tests.
#pragma once

// Camera lift in world units: raises the eye and moves it back (order 1).
extern float g_s1CamLift;
// Camera tilt in world units: lowers the look-at point (orders 2 and 3).
extern float g_s1CamTilt;
// How far the backdrop has risen, screen units; drawn truncated to whole units.
extern float g_s1BackdropRise;
// Alpha of the overlay image; zeroed at row 0 of orders 1, 2 and 3.
extern float g_s1OverlayAlpha;
// Alpha of the closing black fade after row 50 of order 3; never reset.
extern float g_s1Fade;

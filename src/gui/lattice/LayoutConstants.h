#pragma once

// The sizes, angles and colour factors of the lattice drawing. Plain globals
// so that the tweak dialog can change them at run time; they are read every
// time a scene is built or a ball's look is recomputed, so a change shows
// only after the next rebuild (or the next change of a ball's state).
//
// Angles are degrees counter-clockwise on the screen; lengths and diameters
// are scene units; factors are percent as QColor::darker()/lighter() take
// them. GUI thread only.

extern int ANGLE_2_PLUS;              // direction of a +2 step; -2 goes opposite
extern int ANGLE_3_PLUS;              // direction of a +3 step; -3 goes opposite
extern int ANGLE_FRONT_OFFSET;        // tweakable, unused by the drawing
extern int ANGLE_FRONT_ROTATE_OFFSET; // tweakable, unused by the drawing
extern int STRUT_2_LENGTH;            // ball to its 2-step child
extern int STRUT_3_LENGTH;            // ball to its 3-step child
extern int STRUT_WIDTH;               // pen width of a parent-child strut
extern int LINK_WIDTH;                // pen width of a link
extern int LEAVES_PLUS_OFFSET_X;      // circles: plus group x; minus group at -x
extern int LEAVES_PLUS_OFFSET_Y;      // circles: plus group y; minus group at -y
extern int GRAPE_LEAVES_WIDTH;        // grapes: leaves at +-width/4 from the axis
extern int GRAPE_LEAVES_HEIGHT;       // grapes: height of one octave
extern int BALL_DIAMETER;
extern int LEAF_DIAMETER;
extern int LEAVES_RADIUS;      // circles: radius of the ring of six leaves
extern int LEAVES_START_ANGLE; // circles: angle of the ring's first leaf
extern int BALL_DIM_FACTOR;    // silent fill, struts and links
extern int BALL_BRIGHTEN_FACTOR;
extern int OUTLINE_BRIGHTEN_FACTOR;
extern int BALL_GLOW_SIZE_FACTOR;     // glow diameter, percent of the ball's
extern int GLOW_ALPHA_START;          // 0..255 at the glow's centre
extern int PRIME_DISABLED_DIM_FACTOR; // used by the prime buttons

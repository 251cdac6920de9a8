#pragma once

/** The fixed numbers every pixel layout of the editor, its panels and its
    screens is computed from. Each of them keeps its own copy. */
struct LayoutMetrics
{
    int barSize = 50;       // keyboard height; header button width and step
    int unit = 16;          // half a button's height; the font unit
    int smallSize = 25;
    int iconSize = 25;      // icon images and the two small link buttons
    int iconGap = 16;       // spacing of the two small link buttons
    int spacing = 10;       // grid gap and header margin
    int gridTop = 50;       // top of the slider grid
    int controlHeight = 32;
};

/* Stand-in SDL2 header: the stand-in compiler only checks that its folder exists. */

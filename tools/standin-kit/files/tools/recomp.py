# Stand-in for the recompiler script. The stand-in interpreter never runs
# this file; the build only needs it to be present.

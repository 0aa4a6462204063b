# CMake generated Testfile for 
# Source directory: /work/wt/coord-media
# Build directory: /work/wt/coord-media/build-asan
# 
# This file includes the relevant testing commands required for 
# testing this directory and lists subdirectories to be tested as well.
subdirs("tests")

# The clipboard through the vyx executable: headless, with fake tools, and
# under Xvfb with the real xclip.
add_test(NAME clipboard COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/clipboard/run_clipboard.py $<TARGET_FILE:vyx>)

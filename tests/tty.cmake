# The console on a real terminal, driven through tmux.
add_test(NAME tty.prompt COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/tty/prompt.py $<TARGET_FILE:vyx>)

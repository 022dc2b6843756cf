# Models of the value engines: python3 predicts every result of a grid or a
# seeded sample of operations, checked against the vyx executable. With a
# collection at every allocation an even sample of the cases runs.
foreach(model pair_engine tuple_engine)
  vyx_sized_test(NAME lang.model_${model}
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/models/${model}.py $<TARGET_FILE:vyx>
    STRESSED_ARGS 3000)
endforeach()

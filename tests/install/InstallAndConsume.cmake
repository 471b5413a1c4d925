# cmake -DBUILD_DIR=... -DGENERATOR=... -DBUILD_TYPE=... -DCONSUMER_SOURCE=... -DWORK_DIR=...
#       [-DCONSUMER_FLAGS=<compile and link flags of the consumer>]
#       -P InstallAndConsume.cmake
foreach(var BUILD_DIR GENERATOR CONSUMER_SOURCE WORK_DIR)
    if(NOT DEFINED ${var})
        message(FATAL_ERROR "${var} is not set")
    endif()
endforeach()
if(NOT BUILD_TYPE)
    set(BUILD_TYPE RelWithDebInfo)
endif()

set(prefix ${WORK_DIR}/prefix)
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})

function(run step)
    execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "${step} failed (${rc}):\n${out}\n${err}")
    endif()
    message(STATUS "${step}: ok")
endfunction()

run("install" ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})

# The library with its ABI name, the public headers and the package files.
file(GLOB libraries ${prefix}/lib*/libKavriVendorEmp.so.2)
if(NOT libraries)
    message(FATAL_ERROR "libKavriVendorEmp.so.2 is not installed under ${prefix}")
endif()
foreach(header VendorEmployee.h Version.h kavrivendoremp_export.h)
    if(NOT EXISTS ${prefix}/include/KavriVendorEmp/${header})
        message(FATAL_ERROR "header ${header} is not installed")
    endif()
endforeach()

# Only the fresh prefix may provide the package: no package registry, no build tree.
set(common_args
    -G ${GENERATOR}
    -DCMAKE_BUILD_TYPE=${BUILD_TYPE}
    -DCMAKE_PREFIX_PATH=${prefix}
    -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF
    -DCMAKE_FIND_USE_SYSTEM_PACKAGE_REGISTRY=OFF
    -DEXPECTED_PREFIX=${prefix})
if(CONSUMER_FLAGS)
    list(APPEND common_args "-DCMAKE_CXX_FLAGS=${CONSUMER_FLAGS}"
         "-DCMAKE_EXE_LINKER_FLAGS=${CONSUMER_FLAGS}")
endif()
find_program(ccache ccache)
if(ccache)
    list(APPEND common_args -DCMAKE_CXX_COMPILER_LAUNCHER=${ccache})
endif()

run("configure consumer" ${CMAKE_COMMAND} -S ${CONSUMER_SOURCE} -B ${WORK_DIR}/consumer
    ${common_args})
run("build consumer" ${CMAKE_COMMAND} --build ${WORK_DIR}/consumer)
run("run consumer" ${WORK_DIR}/consumer/consumer)

# A host asking for another major version must be turned away.
execute_process(
    COMMAND ${CMAKE_COMMAND} -S ${CONSUMER_SOURCE} -B ${WORK_DIR}/consumer3 ${common_args}
            -DREQUIRED_VERSION=3.0
    RESULT_VARIABLE rc OUTPUT_QUIET ERROR_QUIET)
if(rc EQUAL 0)
    message(FATAL_ERROR "find_package(KavriVendorEmp 3.0) accepted version 2")
endif()
message(STATUS "version 3.0 refused: ok")

file(REMOVE_RECURSE ${WORK_DIR})

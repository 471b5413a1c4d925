# cmake -DSOURCE_DIR=... -DGENERATOR=... -DBUILD_TYPE=... -DCONSUMER_SOURCE=... -DWORK_DIR=...
#       -P InstallAndConsume.cmake
#
# Builds the library on its own in a clean folder (no server, host, benchmarks or tests, and
# find_package blinded to what only those need), installs it into a fresh prefix, then builds
# and runs a host project against the installed package and its Designer plugin.
foreach(var SOURCE_DIR GENERATOR CONSUMER_SOURCE WORK_DIR)
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

run("configure the library alone" ${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${WORK_DIR}/build
    -G ${GENERATOR} -DCMAKE_BUILD_TYPE=${BUILD_TYPE}
    -DKAVRIVENDOREMP_BUILD_SERVER=OFF -DKAVRIVENDOREMP_BUILD_HOST=OFF
    -DKAVRIVENDOREMP_BUILD_BENCHMARKS=OFF -DBUILD_TESTING=OFF
    -DKAVRIVENDOREMP_BUILD_DESIGNER=ON
    -DCMAKE_DISABLE_FIND_PACKAGE_Boost=ON -DCMAKE_DISABLE_FIND_PACKAGE_SQLite3=ON
    -DCMAKE_DISABLE_FIND_PACKAGE_PostgreSQL=ON -DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON)
run("build the library alone" ${CMAKE_COMMAND} --build ${WORK_DIR}/build)
run("install" ${CMAKE_COMMAND} --install ${WORK_DIR}/build --prefix ${prefix})

# The library with its ABI name, the public headers, the package files and the plugin; nothing
# of the parts that were left out.
file(GLOB_RECURSE libraries ${prefix}/libKavriVendorEmp.so.2)
file(GLOB_RECURSE configs ${prefix}/KavriVendorEmpConfig.cmake)
file(GLOB_RECURSE plugins ${prefix}/libKavriVendorEmpDesigner.so)
if(NOT libraries OR NOT configs OR NOT plugins MATCHES "/qt6/plugins/designer/")
    message(FATAL_ERROR "under ${prefix}: library '${libraries}', package '${configs}', "
            "plugin '${plugins}'")
endif()
foreach(header VendorEmployee.h Version.h kavrivendoremp_export.h)
    if(NOT EXISTS ${prefix}/include/KavriVendorEmp/${header})
        message(FATAL_ERROR "header ${header} is not installed")
    endif()
endforeach()
if(EXISTS ${prefix}/bin)
    message(FATAL_ERROR "programs were installed although their options are off")
endif()

# Only the fresh prefix may provide the package: no package registry, no build tree.
set(common_args
    -G ${GENERATOR}
    -DCMAKE_BUILD_TYPE=${BUILD_TYPE}
    -DCMAKE_PREFIX_PATH=${prefix}
    -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF
    -DCMAKE_FIND_USE_SYSTEM_PACKAGE_REGISTRY=OFF
    -DEXPECTED_PREFIX=${prefix})
find_program(ccache ccache)
if(ccache)
    list(APPEND common_args -DCMAKE_CXX_COMPILER_LAUNCHER=${ccache})
endif()

run("configure consumer" ${CMAKE_COMMAND} -S ${CONSUMER_SOURCE} -B ${WORK_DIR}/consumer
    ${common_args})
run("build consumer" ${CMAKE_COMMAND} --build ${WORK_DIR}/consumer)
run("run consumer with the installed plugin" ${WORK_DIR}/consumer/consumer ${plugins})

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

{
  "targets": [
    {
      "target_name": "quorin_native",
      "sources": [
        "src/addon.cpp",
        "src/addon_state.cpp",
        "src/client_core.cpp",
        "src/client_job.cpp",
        "src/client_wrap.cpp",
        "src/device_wrap.cpp",
        "src/diagnostics.cpp",
        "src/loop_watch.cpp",
        "src/values.cpp"
      ],
      "dependencies": ["<!(node -p \"require('node-addon-api').targets\"):node_addon_api_except"],
      "defines": ["NAPI_VERSION=8"],
      "cflags_cc!": ["-std=gnu++17"],
      "cflags_cc": [
        "-std=c++20",
        "-Wall",
        "-Wextra",
        "<!@(pkg-config --cflags quorin-native)",
        "<!@(node -p \"process.env.QRN_WERROR === 'ON' ? '-Werror' : ''\")"
      ],
      "libraries": [
        "<!@(pkg-config --libs quorin-native)",
        "-Wl,-rpath,<!(pkg-config --variable=libdir quorin-native)"
      ]
    }
  ]
}

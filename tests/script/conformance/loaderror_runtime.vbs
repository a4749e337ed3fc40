' A run-time error in global code keeps what ran before it.
Dim list(2)
WScript.Echo "first"
list(1) = "ok"
WScript.Echo list(1)
list(3) = "too far"
WScript.Echo "never printed"

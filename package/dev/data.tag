[TagInfo]
Company=Zarpo Games Studios
Application=Zarpo OGL
Version=1.00.000
Category=Games
Misc=OpenGL Application

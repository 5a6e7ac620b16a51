/* A module that exports the execute-context slot but never fills it. */
__declspec(dllexport) void* m_ExecuteContext_4D93FADE_7B9E_4286_AE07_54AF471F7E22 = 0;

/* Method ZelObjC_LookupMethod(Class cls, SEL sel): the usual hit, the
   selector in its home bucket of the class's cache while the multithreaded
   switch is off, answered without a frame. Only scratch registers are
   touched and the arguments stay where the caller put them, so everything
   else is a jump to zel_lookup_rest.

   The switch is reached through the address of a label taken by a call to
   the next instruction, which processors pair with no return; a call to a
   separate thunk and its return measured about a quarter slower here. */
#include "method.h"

#if !defined(__i386__)
#error "the method lookup hit path is written for 32-bit x86 (i386)"
#endif

	.text
	.hidden	zel_multithreaded
	.hidden	zel_lookup_rest
	.globl	ZelObjC_LookupMethod
	.type	ZelObjC_LookupMethod, @function
	.p2align 4
ZelObjC_LookupMethod:
	.cfi_startproc
	call	0f
0:	.cfi_adjust_cfa_offset 4
	popl	%ecx
	.cfi_adjust_cfa_offset -4
	cmpb	$0, zel_multithreaded-0b(%ecx)
	jne	1f				/* no cache may be read */
	movl	4(%esp), %eax			/* class */
	testl	%eax, %eax
	je	1f
	movl	CLASS_CACHE(%eax), %ecx
	testl	%ecx, %ecx
	je	1f
	movl	8(%esp), %edx			/* selector */
	movl	CACHE_MASK(%ecx), %eax
	andl	%edx, %eax
	movl	CACHE_BUCKETS(%ecx,%eax,4), %eax
	testl	%eax, %eax
	je	1f
	cmpl	%edx, METHOD_NAME(%eax)
	jne	1f
	ret
1:	jmp	zel_lookup_rest
	.cfi_endproc
	.size	ZelObjC_LookupMethod, .-ZelObjC_LookupMethod

	.section .note.GNU-stack,"",@progbits
